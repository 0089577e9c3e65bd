# The Windows programs' checks, under wine (CMAKE_CROSSCOMPILING_EMULATOR):
# the golden dialogue scenarios byte for byte, the batch tool's command-line
# cases, and the unit suites of the folders below series (tests/CMakeLists.txt).

# The golden scenarios, each run by mfwindow.exe. A scenario whose standard
# error names a path or a system message has its Windows text in
# expected/stderr.windows.txt ("@WORK@" stands for the scratch folder as
# Windows names it: wine's drive Z: and backslashes).
file(GLOB scenario_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/golden/*)
foreach(dir ${scenario_dirs})
  if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/expected)
    get_filename_component(name ${dir} NAME)
    add_test(NAME golden.${name}
             COMMAND ${CMAKE_COMMAND}
                     "-DPROGRAM=${CMAKE_CROSSCOMPILING_EMULATOR};$<TARGET_FILE:mfwindow>"
                     -DSCENARIO=${dir} -DWINDOWS=ON
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/golden_work/${name}
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/golden/run_scenario.cmake)
    set_tests_properties(golden.${name} PROPERTIES LABELS golden)
  endif()
endforeach()

# The batch tool's cases, with the two programs behind scripts that start
# them under wine, as cli_test.sh starts programs on PATH.
foreach(program mfwindow mfwindow-batch)
  string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/windows_bin/${program}
       CONTENT "#!/bin/sh\nexec ${emulator} $<TARGET_FILE:${program}> \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                        GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
foreach(case IN ITEMS dat_matches_mfwindow clamped_dat_matches_mfwindow
                      parallel_shards_cover_list exit_statuses refusals
                      stdin_and_stdout)
  add_test(NAME batch.cli.${case}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/batch/cli_test.sh ${case}
                   ${CMAKE_CURRENT_BINARY_DIR}/windows_bin/mfwindow
                   ${CMAKE_CURRENT_BINARY_DIR}/windows_bin/mfwindow-batch
                   ${CMAKE_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/batch_cli_work/${case})
  set_tests_properties(batch.cli.${case} PROPERTIES LABELS batch
                       ENVIRONMENT MFWINDOW_TEST_WINDOWS=1)
endforeach()
