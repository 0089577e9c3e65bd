# The libraries of src/, one per folder, and the rule that keeps their
# dependencies pointing one way.
#
#   mfwindow_layer(NAME [LOWER...]) makes the static library mfwindow_NAME
#   from src/NAME/*.cpp, linked PUBLIC to mfwindow_LOWER... Its sources may
#   include headers of NAME, of the LOWER folders and of what those may
#   include, and nothing else of ours: the layer check fails the build on an
#   include that runs back up, however it is spelled (a header found on the
#   shared src/ include path or beside the including file would otherwise
#   compile, and fail only at link time, if at all).

# Which folders each folder may include (itself included) is kept in the
# global property mfwindow_allowed_NAME, filled in as the layers are
# declared, lower folders first.

function(mfwindow_layer name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.h)
  add_library(mfwindow_${name} STATIC ${sources})
  target_include_directories(mfwindow_${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src>)
  target_compile_features(mfwindow_${name} PUBLIC cxx_std_20)
  # Our warnings, floating-point flags and sanitizers stay with our own
  # targets; a project that links the installed library gets only the
  # language standard.
  target_link_libraries(mfwindow_${name} PUBLIC
    $<BUILD_INTERFACE:project_options>)
  foreach(lower IN LISTS ARGN)
    target_link_libraries(mfwindow_${name} PUBLIC mfwindow_${lower})
  endforeach()
  set_target_properties(mfwindow_${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON)
  mfwindow_layer_check(${name} mfwindow_${name} ${ARGN})
endfunction()

# The layer check of src/NAME for TARGET, whose sources are that folder's:
# may include the folders LOWER... and what they may include.
function(mfwindow_layer_check name target)
  set(allowed ${name})
  foreach(lower IN LISTS ARGN)
    get_property(below GLOBAL PROPERTY mfwindow_allowed_${lower})
    list(APPEND allowed ${below})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY mfwindow_allowed_${name} ${allowed})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.h)

  # The layer check: runs again whenever a file of the folder changes.
  set(stamp ${CMAKE_BINARY_DIR}/layers/${name}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DLAYER=${name} "-DALLOWED=${allowed}"
            -DSOURCE_DIR=${CMAKE_SOURCE_DIR}/src -DSTAMP=${stamp}
            -P ${CMAKE_SOURCE_DIR}/cmake/check_layer.cmake
    DEPENDS ${sources} ${headers} ${CMAKE_SOURCE_DIR}/cmake/check_layer.cmake
    COMMENT "Checking the includes of src/${name}"
    VERBATIM)
  add_custom_target(mfwindow_${name}_layer DEPENDS ${stamp})
  add_dependencies(${target} mfwindow_${name}_layer)
endfunction()
