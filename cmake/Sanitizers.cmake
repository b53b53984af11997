# Sanitizer builds: address + undefined for the unit and integration tests,
# thread for the capture tests, and libFuzzer (clang) for the fuzz targets.
if(FRAMEWELL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -O1)
  add_link_options(-fsanitize=address,undefined)
endif()
if(FRAMEWELL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(FRAMEWELL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "FRAMEWELL_FUZZ needs clang (CXX=clang++)")
  endif()
  # Library code gets coverage instrumentation; each fuzz target links the
  # libFuzzer driver itself (see framewell_add_fuzzer).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# A libFuzzer program: one source, linked with the given libraries.
function(framewell_add_fuzzer name source)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
