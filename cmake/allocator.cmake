# The programs are linked with tcmalloc where it is installed (Debian: libgoogle-perftools-dev).
# A run makes and frees many small strings, handed between threads: glibc's allocator spent a
# quarter of a run's own processor time on them, tcmalloc a fraction of that. Not with the
# sanitizers, which bring an allocator of their own, nor on Windows.
set(_orrinfold_tcmalloc OFF)
if(ORRINFOLD_TCMALLOC AND NOT ORRINFOLD_SANITIZE AND NOT ORRINFOLD_FUZZ AND NOT WIN32)
  find_package(PkgConfig)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(TCMALLOC IMPORTED_TARGET GLOBAL libtcmalloc_minimal)
  endif()
  if(TCMALLOC_FOUND)
    set(_orrinfold_tcmalloc ON)
  else()
    message(STATUS "tcmalloc not found (Debian: libgoogle-perftools-dev): the programs use the C library's allocator")
  endif()
endif()

# Links a program (not a library: the allocator is the program's choice) with tcmalloc, when used.
function(orrinfold_link_allocator target)
  if(_orrinfold_tcmalloc)
    target_link_libraries(${target} PRIVATE PkgConfig::TCMALLOC)
  endif()
endfunction()
