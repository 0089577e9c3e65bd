# Fails when a file of src/LAYER includes a header of a folder of src/ that
# is not in ALLOWED (the folder's own and those below it). Run by the build
# (cmake/layers.cmake); touches STAMP when every include is allowed.
cmake_minimum_required(VERSION 3.25)
file(GLOB files ${SOURCE_DIR}/${LAYER}/*.cpp ${SOURCE_DIR}/${LAYER}/*.h)
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(wrong "")
foreach(file IN LISTS files)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^/\"]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^/\"]+)/.*" "\\1"
           folder "${line}")
    if(folder IN_LIST folders AND NOT folder IN_LIST ALLOWED)
      file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
      string(APPEND wrong "\n  src/${where}: ${line}")
    endif()
  endforeach()
endforeach()
if(wrong)
  message(FATAL_ERROR "src/${LAYER} may include only ${ALLOWED}; these "
                      "includes run the wrong way:${wrong}")
endif()
file(TOUCH ${STAMP})
