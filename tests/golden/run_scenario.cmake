# Runs one golden scenario: copies SCENARIO/files into a fresh WORK folder,
# runs PROGRAM there with SCENARIO/stdin.txt on standard input (and the
# arguments of SCENARIO/args.txt, one per line, if present), then compares
# byte for byte, CR LF included:
#   expected/stdout.txt          the console transcript
#   expected/stderr.txt          standard error, if present ("@WORK@" stands
#                                for the scratch folder); under wine
#                                (-DWINDOWS=ON) stderr.windows.txt where
#                                Windows words it otherwise
#   expected/exit_status.txt     the exit status (0 when absent)
#   expected/F(Alfa)/...         every result file; no other file may exist
#   expected/no_result_dir       marks a run that must not create F(Alfa)
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
if(EXISTS "${SCENARIO}/files")
  file(COPY "${SCENARIO}/files/" DESTINATION "${WORK}")
endif()

set(args)
if(EXISTS "${SCENARIO}/args.txt")
  file(STRINGS "${SCENARIO}/args.txt" args)
endif()

# PROGRAM may carry arguments of its own (a list).
execute_process(
  COMMAND ${PROGRAM} ${args}
  WORKING_DIRECTORY "${WORK}"
  INPUT_FILE "${SCENARIO}/stdin.txt"
  OUTPUT_FILE "${WORK}.stdout"
  ERROR_FILE "${WORK}.stderr"
  RESULT_VARIABLE status
  TIMEOUT 300)

set(failures "")

set(expected_status 0)
if(EXISTS "${SCENARIO}/expected/exit_status.txt")
  file(STRINGS "${SCENARIO}/expected/exit_status.txt" expected_status LIMIT_COUNT 1)
endif()
if(NOT "${status}" STREQUAL "${expected_status}")
  string(APPEND failures "exit status ${status}, expected ${expected_status}\n")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                "${WORK}.stdout" "${SCENARIO}/expected/stdout.txt"
                RESULT_VARIABLE differs)
if(differs)
  string(APPEND failures "stdout differs: ${WORK}.stdout\n")
endif()

# Under wine (WINDOWS) the program names the folder by drive Z: and
# backslashes, and says what Windows says.
set(stderr_file "${SCENARIO}/expected/stderr.txt")
set(work_name "${WORK}")
if(WINDOWS)
  string(REPLACE "/" "\\" work_name "Z:${WORK}")
  if(EXISTS "${SCENARIO}/expected/stderr.windows.txt")
    set(stderr_file "${SCENARIO}/expected/stderr.windows.txt")
  endif()
endif()
if(EXISTS "${stderr_file}")
  file(READ "${stderr_file}" want_err)
  string(REPLACE "@WORK@" "${work_name}" want_err "${want_err}")
  file(READ "${WORK}.stderr" got_err)
  if(NOT got_err STREQUAL want_err)
    string(APPEND failures "stderr differs:\n${got_err}\nexpected:\n${want_err}\n")
  endif()
endif()

# Every expected result file, byte for byte, and no result file besides.
set(want_files)
if(EXISTS "${SCENARIO}/expected/F(Alfa)")
  file(GLOB_RECURSE want_files RELATIVE "${SCENARIO}/expected/F(Alfa)"
       "${SCENARIO}/expected/F(Alfa)/*")
endif()
set(got_files)
if(EXISTS "${WORK}/F(Alfa)")
  file(GLOB_RECURSE got_files RELATIVE "${WORK}/F(Alfa)" "${WORK}/F(Alfa)/*")
endif()
list(SORT want_files)
list(SORT got_files)
if(NOT "${want_files}" STREQUAL "${got_files}")
  string(APPEND failures "result files [${got_files}], expected [${want_files}]\n")
endif()
foreach(f ${want_files})
  if(EXISTS "${WORK}/F(Alfa)/${f}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                    "${WORK}/F(Alfa)/${f}" "${SCENARIO}/expected/F(Alfa)/${f}"
                    RESULT_VARIABLE differs)
    if(differs)
      string(APPEND failures "result file differs: F(Alfa)/${f}\n")
    endif()
  endif()
endforeach()
if(EXISTS "${SCENARIO}/expected/no_result_dir")
  if(EXISTS "${WORK}/F(Alfa)")
    string(APPEND failures "F(Alfa) was created\n")
  endif()
elseif(NOT IS_DIRECTORY "${WORK}/F(Alfa)")
  string(APPEND failures "F(Alfa) was not created\n")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
