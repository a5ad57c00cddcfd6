# One interface target carries the project's warning flags; every target links it.
add_library(orrinfold_warnings INTERFACE)
target_compile_options(orrinfold_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
if(ORRINFOLD_WERROR)
  target_compile_options(orrinfold_warnings INTERFACE -Werror)
endif()
