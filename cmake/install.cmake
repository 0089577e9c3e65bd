# Installs the programs, the library with its public headers, and a CMake
# package so that another project can write
#   find_package(mfwindow 0.1 REQUIRED)
#   target_link_libraries(app PRIVATE mfwindow::mfwindow_core)
# The internal headers under src/ stay behind: the public headers include
# none of them.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(mfwindow_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mfwindow)

# The include directory comes with the target (INSTALL_INTERFACE).
install(TARGETS mfwindow_core mfwindow_api mfwindow_series mfwindow_analysis
                mfwindow_numerics mfwindow_platform mfwindow_textio
        EXPORT mfwindowTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/mfwindow/mfwindow.h
              ${CMAKE_SOURCE_DIR}/include/mfwindow/settings_table.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mfwindow)
install(TARGETS mfwindow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET mfwindow-batch)
  install(TARGETS mfwindow-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT mfwindowTargets
        NAMESPACE mfwindow::
        DESTINATION ${mfwindow_config_dir})
configure_package_config_file(
  ${CMAKE_SOURCE_DIR}/cmake/mfwindowConfig.cmake.in
  ${CMAKE_BINARY_DIR}/mfwindowConfig.cmake
  INSTALL_DESTINATION ${mfwindow_config_dir})
# 0.x releases may change the API between minor versions.
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/mfwindowConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/mfwindowConfig.cmake
              ${CMAKE_BINARY_DIR}/mfwindowConfigVersion.cmake
        DESTINATION ${mfwindow_config_dir})

# A sanitized library needs the sanitizer runtime wherever it is linked.
if(SANITIZE)
  target_link_options(mfwindow_core INTERFACE
                      "$<INSTALL_INTERFACE:${san_flags}>")
endif()
