# Fails when a file of src/LAYER includes a header of a folder of src/ that
# is not in ALLOWED (the folder's own and those below it). Run by the build
# (cmake/layers.cmake); touches STAMP when every include is allowed.
#
# Every spelling counts, quoted or angled: the path is taken as the
# compiler could find it, beside the including file, on the src/ include
# path or from the folder above src/, with "." and ".." resolved, so that
# "../driver/x.h", <driver/x.h>, "src/driver/x.h" and "series/../driver/x.h"
# all reach src/driver.
cmake_minimum_required(VERSION 3.25)
file(GLOB files ${SOURCE_DIR}/${LAYER}/*.cpp ${SOURCE_DIR}/${LAYER}/*.h)
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
cmake_path(GET SOURCE_DIR PARENT_PATH above_source)
set(include_pattern "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
set(wrong "")
foreach(file IN LISTS files)
  cmake_path(GET file PARENT_PATH beside)
  file(STRINGS ${file} includes REGEX "${include_pattern}")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "${include_pattern}.*" "\\1" path "${line}")
    set(reached "")
    foreach(base IN ITEMS ${beside} ${SOURCE_DIR} ${above_source})
      cmake_path(APPEND base ${path} OUTPUT_VARIABLE candidate)
      cmake_path(NORMAL_PATH candidate)
      cmake_path(IS_PREFIX SOURCE_DIR ${candidate} NORMALIZE inside)
      if(NOT inside)
        continue()
      endif()
      cmake_path(RELATIVE_PATH candidate BASE_DIRECTORY ${SOURCE_DIR})
      string(REGEX REPLACE "/.*" "" folder "${candidate}")
      if(folder IN_LIST folders AND NOT folder IN_LIST ALLOWED
         AND NOT folder IN_LIST reached)
        list(APPEND reached ${folder})
      endif()
    endforeach()
    if(reached)
      file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
      list(JOIN reached ", src/" reached)
      string(APPEND wrong "\n  src/${where}: ${line} (reaches src/${reached})")
    endif()
  endforeach()
endforeach()
if(wrong)
  message(FATAL_ERROR "src/${LAYER} may include only ${ALLOWED}; these "
                      "includes run the wrong way:${wrong}")
endif()
file(TOUCH ${STAMP})
