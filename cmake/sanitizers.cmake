# ORRINFOLD_SANITIZE=address;undefined instruments every target of the build; thread (alone,
# or with undefined) finds data races between the workers of a run.
if(ORRINFOLD_SANITIZE)
  if("thread" IN_LIST ORRINFOLD_SANITIZE)
    foreach(_orrinfold_other address leak memory)
      if(_orrinfold_other IN_LIST ORRINFOLD_SANITIZE)
        message(FATAL_ERROR "ORRINFOLD_SANITIZE: thread cannot be combined with ${_orrinfold_other}")
      endif()
    endforeach()
  endif()
  list(JOIN ORRINFOLD_SANITIZE "," _orrinfold_sanitizers)
  add_compile_options(-fsanitize=${_orrinfold_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_orrinfold_sanitizers})
endif()
