# Fuzzers, sanitizer builds and the C++ test hosts.
#
#   MIME_SANITIZE=address  every target built with AddressSanitizer and
#                          UndefinedBehaviorSanitizer, aborting on the first report
#   MIME_SANITIZE=thread   every target built with ThreadSanitizer
#   MIME_FUZZ=ON           the libFuzzer fuzzers of fuzz/ (clang++ only); the cores
#                          and the modules get ASan, UBSan and fuzzer coverage
#
# The C++ test hosts of test/host/ (allocation failure, many states on many
# threads) embed Lua 5.1 and are registered with ctest whenever its library is found.

set(MIME_SANITIZE "" CACHE STRING "Sanitizers for every target: empty, address (ASan and UBSan) or thread (TSan)")
set_property(CACHE MIME_SANITIZE PROPERTY STRINGS "" address thread)
option(MIME_FUZZ "Build the libFuzzer fuzzers of fuzz/ (needs CMAKE_CXX_COMPILER=clang++)" OFF)

set(mime_sanitize_flags "")
if(MIME_SANITIZE STREQUAL "address")
  set(mime_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                          -fno-omit-frame-pointer -g)
elseif(MIME_SANITIZE STREQUAL "thread")
  set(mime_sanitize_flags -fsanitize=thread -fno-omit-frame-pointer -g)
elseif(NOT MIME_SANITIZE STREQUAL "")
  message(FATAL_ERROR "MIME_SANITIZE must be empty, address or thread")
endif()

if(MIME_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "MIME_FUZZ needs clang++ (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(MIME_SANITIZE)
    message(FATAL_ERROR "MIME_FUZZ brings its own sanitizers: leave MIME_SANITIZE empty")
  endif()
  set(mime_sanitize_flags -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all
                          -fno-omit-frame-pointer -g)
endif()

# Targets defined so far (the cores, the kernels, every module) get the flags too,
# so that the code under test is instrumented, not only the drivers.
if(mime_sanitize_flags)
  get_property(mime_existing_targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${mime_existing_targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|MODULE_LIBRARY|SHARED_LIBRARY|EXECUTABLE)$")
      target_compile_options(${target} PRIVATE ${mime_sanitize_flags})
      if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY)$")
        target_link_options(${target} PRIVATE ${mime_sanitize_flags})
      endif()
    endif()
  endforeach()
endif()

# The Lua glue, compiled into an executable that embeds Lua 5.1 (test hosts and
# the glue fuzzer).
set(mime_glue_sources
  ${CMAKE_CURRENT_SOURCE_DIR}/src/module/core.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/module/glue.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/module/output.cpp)
set(mime_lua51_found FALSE)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(MIME_LUA51_LIBRARY QUIET lua5.1)
  if(MIME_LUA51_LIBRARY_FOUND)
    set(mime_lua51_found TRUE)
  endif()
endif()

function(mime_add_lua_host target)
  add_executable(${target} ${ARGN} ${mime_glue_sources})
  target_include_directories(${target} PRIVATE ${MIME_LUA51_LIBRARY_INCLUDE_DIRS}
                                                ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_directories(${target} PRIVATE ${MIME_LUA51_LIBRARY_LIBRARY_DIRS})
  target_link_libraries(${target} PRIVATE mime_cores ${MIME_LUA51_LIBRARY_LIBRARIES})
  target_compile_options(${target} PRIVATE -Wall -Wextra -fno-exceptions ${mime_sanitize_flags})
  target_link_options(${target} PRIVATE ${mime_sanitize_flags})
endfunction()

if(BUILD_TESTING AND NOT MIME_FUZZ AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/test/host/threads_host.cpp)
  if(mime_lua51_found)
    find_package(Threads REQUIRED)
    mime_add_lua_host(mime_alloc_host test/host/alloc_host.cpp)
    mime_add_lua_host(mime_threads_host test/host/threads_host.cpp)
    target_link_libraries(mime_threads_host PRIVATE Threads::Threads)
    add_test(NAME host-allocation-failure COMMAND mime_alloc_host)
    add_test(NAME host-threads COMMAND mime_threads_host)
  else()
    message(WARNING "Lua 5.1 library not found (liblua5.1-0-dev): the C++ test hosts are not built")
  endif()
endif()

if(MIME_FUZZ)
  set(mime_fuzz_flags -fsanitize=address,undefined,fuzzer -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  # With the SIMD kernels in the build, the core fuzzer runs every set the CPU has.
  get_target_property(mime_core_sources mime_cores SOURCES)
  set(mime_fuzz_kernels 0)
  if(mime_core_sources MATCHES "cpu\\.cpp")
    set(mime_fuzz_kernels 1)
  endif()
  foreach(fuzzer fuzz_cores)
    add_executable(${fuzzer} fuzz/${fuzzer}.cpp)
    target_include_directories(${fuzzer} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_libraries(${fuzzer} PRIVATE mime_cores)
    target_compile_definitions(${fuzzer} PRIVATE MIME_FUZZ_KERNELS=${mime_fuzz_kernels})
    target_compile_options(${fuzzer} PRIVATE -Wall -Wextra -fno-exceptions ${mime_fuzz_flags})
    target_link_options(${fuzzer} PRIVATE ${mime_fuzz_flags})
  endforeach()
  if(mime_lua51_found AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_lua.cpp)
    add_executable(fuzz_lua fuzz/fuzz_lua.cpp ${mime_glue_sources})
    target_include_directories(fuzz_lua PRIVATE ${MIME_LUA51_LIBRARY_INCLUDE_DIRS}
                                                 ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_directories(fuzz_lua PRIVATE ${MIME_LUA51_LIBRARY_LIBRARY_DIRS})
    target_link_libraries(fuzz_lua PRIVATE mime_cores ${MIME_LUA51_LIBRARY_LIBRARIES})
    target_compile_options(fuzz_lua PRIVATE -Wall -Wextra -fno-exceptions ${mime_fuzz_flags})
    target_link_options(fuzz_lua PRIVATE ${mime_fuzz_flags})
  else()
    message(WARNING "Lua 5.1 library not found (liblua5.1-0-dev): fuzz_lua is not built")
  endif()
endif()
