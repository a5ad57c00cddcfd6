# ORRINFOLD_SANITIZE=address;undefined instruments every target of the build.
if(ORRINFOLD_SANITIZE)
  list(JOIN ORRINFOLD_SANITIZE "," _orrinfold_sanitizers)
  add_compile_options(-fsanitize=${_orrinfold_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_orrinfold_sanitizers})
endif()
