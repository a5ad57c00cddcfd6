# Fails when a file of one layer of the core includes a header of a layer it may not use.
# Run as: cmake -DLAYER=ssi -DALLOWED=base,platform,ssi -DLAYERS=base,platform,...
#               -DFOLDER=<src/core> [-DSTAMP=<file>] -P check_layers.cmake
# The folders of the core are its layers; an include names its layer as its first part
# ("platform/file.h"). Headers at the core's root (version.h) belong to every layer.
cmake_minimum_required(VERSION 3.25)
foreach(variable LAYER ALLOWED LAYERS FOLDER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_layers.cmake needs -D${variable}=...")
  endif()
endforeach()

string(REPLACE "," ";" ALLOWED "${ALLOWED}")
string(REPLACE "," ";" LAYERS "${LAYERS}")
file(GLOB_RECURSE files LIST_DIRECTORIES false "${FOLDER}/${LAYER}/*.h" "${FOLDER}/${LAYER}/*.cpp")
set(wrong "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
    if(header MATCHES "^\\.\\./")
      list(APPEND wrong "${file}: #include \"${header}\": name a header by its layer, not by ../")
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" first "${header}")
    if(NOT header MATCHES "/" OR NOT first IN_LIST LAYERS)
      continue()  # a header beside the file, or one outside the core
    endif()
    if(NOT first IN_LIST ALLOWED)
      list(APPEND wrong "${file}: #include \"${header}\": the ${LAYER} layer may not use ${first}")
    endif()
  endforeach()
endforeach()

if(wrong)
  list(JOIN wrong "\n" text)
  message(FATAL_ERROR "Includes against the layers' arrows:\n${text}")
endif()
if(DEFINED STAMP)
  file(TOUCH "${STAMP}")
endif()
