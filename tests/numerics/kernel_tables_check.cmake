# Runs the kernel-table generator into OUTPUT and compares the result with
# the checked-in HEADER; prints the difference when they disagree.
#   cmake -DPYTHON=... -DGENERATOR=... -DHEADER=... -DOUTPUT=... -P this
execute_process(COMMAND ${PYTHON} ${GENERATOR}
                OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed (${status})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${HEADER} ${OUTPUT}
                RESULT_VARIABLE differs)
if(differs)
  execute_process(COMMAND diff -u ${HEADER} ${OUTPUT})
  message(FATAL_ERROR "${HEADER} is not the generator's output; regenerate "
                      "it with: ${PYTHON} ${GENERATOR} > ${HEADER}")
endif()
