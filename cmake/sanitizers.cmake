# Sanitizer builds: the flags go to mime_flags, so that every target built here
# (the cores, the kernels, every module, the tests and the fuzzers) is
# instrumented, not only the drivers.
#
#   MIME_SANITIZE=address  AddressSanitizer and UndefinedBehaviorSanitizer,
#                          aborting on the first report
#   MIME_SANITIZE=thread   ThreadSanitizer
#   MIME_FUZZ=ON           (cmake/fuzzers.cmake) AddressSanitizer, UBSan and
#                          libFuzzer's coverage

set(MIME_SANITIZE "" CACHE STRING "Sanitizers for every target: empty, address (ASan and UBSan) or thread (TSan)")
set_property(CACHE MIME_SANITIZE PROPERTY STRINGS "" address thread)
option(MIME_FUZZ "Build the libFuzzer fuzzers of fuzz/ (needs CMAKE_CXX_COMPILER=clang++)" OFF)

set(mime_sanitize_flags "")
if(MIME_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "MIME_FUZZ needs clang++ (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(MIME_SANITIZE)
    message(FATAL_ERROR "MIME_FUZZ brings its own sanitizers: leave MIME_SANITIZE empty")
  endif()
  set(mime_sanitize_flags -fsanitize=address,undefined,fuzzer-no-link)
elseif(MIME_SANITIZE STREQUAL "address")
  set(mime_sanitize_flags -fsanitize=address,undefined)
elseif(MIME_SANITIZE STREQUAL "thread")
  set(mime_sanitize_flags -fsanitize=thread)
elseif(NOT MIME_SANITIZE STREQUAL "")
  message(FATAL_ERROR "MIME_SANITIZE must be empty, address or thread")
endif()

if(mime_sanitize_flags)
  list(APPEND mime_sanitize_flags -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  target_compile_options(mime_flags INTERFACE ${mime_sanitize_flags})
  target_link_options(mime_flags INTERFACE ${mime_sanitize_flags})
endif()
