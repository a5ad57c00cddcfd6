# Header-only libraries from Debian (CLI11, nlohmann-json, toml++, cpp-httplib) serve every
# build. A MinGW cross-build must not see the build machine's other headers, so there each
# one's folder is copied into the build tree and only that copy is put on the include path.
#
#   orrinfold_host_headers(TARGET HEADER FOLDER)
#
# makes the imported INTERFACE target TARGET from the folder FOLDER under /usr/include that
# holds HEADER (e.g. orrinfold_host_headers(orrinfold::json nlohmann/json.hpp nlohmann)); with
# FOLDER "." the header alone is taken (orrinfold_host_headers(orrinfold::httplib httplib.h .)).
function(orrinfold_host_headers target header folder)
  if(TARGET ${target})
    return()
  endif()
  string(MAKE_C_IDENTIFIER "ORRINFOLD_HEADERS_${header}" var)
  find_path(${var} ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    string(MAKE_C_IDENTIFIER "${header}" name)
    set(copy ${CMAKE_BINARY_DIR}/host-headers/${name})
    if(folder STREQUAL ".")
      file(COPY ${${var}}/${header} DESTINATION ${copy})
    else()
      file(COPY ${${var}}/${folder} DESTINATION ${copy})
    endif()
    target_include_directories(${target} SYSTEM INTERFACE ${copy})
  else()
    target_include_directories(${target} SYSTEM INTERFACE ${${var}})
  endif()
endfunction()
