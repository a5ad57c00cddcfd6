# The core is built as one static library per layer, each linking only to the layers below
# it, and a check that runs with every build fails when a file includes a header of a layer it
# may not use. ORRINFOLD_LAYERS lists every layer, lowest first.
#
#   orrinfold_layer(NAME SOURCES file.cpp ... USES lower-layer ...)
#
# makes the library orrinfold-NAME from the sources, which lie in the folder NAME/.
set(ORRINFOLD_LAYERS base platform ssi html site build run)

function(orrinfold_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;USES")
  set(target orrinfold-${name})
  add_library(${target} STATIC ${arg_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE orrinfold_warnings)
  foreach(lower IN LISTS arg_USES)
    if(NOT TARGET orrinfold-${lower})
      message(FATAL_ERROR "Layer ${name} uses ${lower}, which is not a layer below it")
    endif()
    target_link_libraries(${target} PUBLIC orrinfold-${lower})
  endforeach()

  # The check reads the layer's folder afresh on every build (it takes milliseconds), so a new
  # file is checked without a new configure.
  set(allowed ${name} ${arg_USES})
  list(JOIN allowed "," allowed)
  list(JOIN ORRINFOLD_LAYERS "," layers)
  add_custom_target(${target}-arrows
    COMMAND ${CMAKE_COMMAND} -DLAYER=${name} -DALLOWED=${allowed} -DLAYERS=${layers}
            -DFOLDER=${CMAKE_CURRENT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    VERBATIM)
  add_dependencies(${target} ${target}-arrows)
endfunction()
