# Warnings on for every target of the project; the build stays clean.
add_compile_options(-Wall -Wextra)
# The test command builds with warnings as errors, so none slips in.
option(FRAMEWELL_WERROR "Treat compiler warnings as errors" OFF)
if(FRAMEWELL_WERROR)
  add_compile_options(-Werror)
endif()
