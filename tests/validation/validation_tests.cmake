# The validation's tests: validation/validate.py --quick (the program against
# exact fGn and the binomial cascade, with the targets of docs/validation.md),
# split in two so that each stays short: the spectra (validation.quick) and
# the surrogate null levels (validation.null_quick), both through the module;
# and the unit tests of its signal generators and peer MF-DFA. Included from
# tests/CMakeLists.txt, after python/ has said whether the module is built;
# without the module nothing is registered.
if(NOT TARGET mfwindow_python)
  return()
endif()
if(NOT Python3_EXECUTABLE)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()

# Bytecode stays out of the source tree.
set(validation_env PYTHONDONTWRITEBYTECODE=1)
add_test(NAME validation.quick
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/validation/validate.py
                 --quick --part spectra)
set_tests_properties(validation.quick PROPERTIES
  LABELS validation TIMEOUT 300
  ENVIRONMENT "${validation_env};PYTHONPATH=${MFWINDOW_TEST_PYTHONPATH}")
add_test(NAME validation.null_quick
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/validation/validate.py
                 --quick --part null)
set_tests_properties(validation.null_quick PROPERTIES
  LABELS validation TIMEOUT 300
  ENVIRONMENT "${validation_env};PYTHONPATH=${MFWINDOW_TEST_PYTHONPATH}")

execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
                RESULT_VARIABLE pytest_missing OUTPUT_QUIET ERROR_QUIET)
if(pytest_missing)
  message(STATUS "Validation tools' unit tests skipped: need pytest "
                 "(Debian: python3-pytest)")
  return()
endif()
add_test(NAME validation.tools
         COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
                 ${CMAKE_CURRENT_LIST_DIR}/test_signals_and_peer.py)
set_tests_properties(validation.tools PROPERTIES
  LABELS validation TIMEOUT 300 ENVIRONMENT "${validation_env}")
