# Block kernels for x86-64 and their dispatch, added to mime_cores (included right
# after that target is defined).
#
#   MIME_KERNEL=auto     the best set the CPU runs, chosen once at run time (default)
#   MIME_KERNEL=scalar|ssse3|avx2|avx512
#                        the dispatch pinned to one set, for testing that set
#   MIME_BENCH=ON        also build the benchmark's per-byte reference module
#                        (bench/run.sh configures its own build with it)
#
# With testing on, every kernel set this machine runs also gets a Lua 5.1 module
# pinned to it (kernel-<set>/mime/core.so) and a run of the busted suite against
# it (busted-kernel-<set>), and the C++ differential test (kernels-differential)
# compares every set with the per-byte steps.

set(MIME_KERNEL "auto" CACHE STRING "Kernel set the module uses: auto, scalar, ssse3, avx2 or avx512")
set_property(CACHE MIME_KERNEL PROPERTY STRINGS auto scalar ssse3 avx2 avx512)
option(MIME_BENCH "Build the benchmark's per-byte reference module (bench/)" OFF)

set(mime_kernel_sets scalar)
set(mime_x86_kernels FALSE)
set(mime_avx512_kernels FALSE)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 8
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-mssse3 MIME_HAVE_MSSSE3)
  check_cxx_compiler_flag(-mavx2 MIME_HAVE_MAVX2)
  check_cxx_compiler_flag("-mavx512f -mavx512bw -mavx512vbmi -mavx512vbmi2 -mpopcnt" MIME_HAVE_MAVX512VBMI2)
  if(MIME_HAVE_MSSSE3 AND MIME_HAVE_MAVX2)
    set(mime_x86_kernels TRUE)
    list(APPEND mime_kernel_sets ssse3 avx2)
    if(MIME_HAVE_MAVX512VBMI2)
      set(mime_avx512_kernels TRUE)
      list(APPEND mime_kernel_sets avx512)
    endif()
  endif()
endif()

target_sources(mime_cores PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src/module/cpu.cpp)
if(mime_x86_kernels)
  set(mime_ssse3_sources ${CMAKE_CURRENT_SOURCE_DIR}/src/kernels/ssse3.cpp)
  set(mime_avx2_sources ${CMAKE_CURRENT_SOURCE_DIR}/src/kernels/avx2.cpp)
  target_sources(mime_cores PRIVATE ${mime_ssse3_sources} ${mime_avx2_sources})
  set_source_files_properties(${mime_ssse3_sources} PROPERTIES COMPILE_OPTIONS "-mssse3")
  set_source_files_properties(${mime_avx2_sources} PROPERTIES COMPILE_OPTIONS "-mavx2")
  target_compile_definitions(mime_cores PUBLIC MIME_X86_KERNELS=1)
  if(mime_avx512_kernels)
    set(mime_avx512_sources ${CMAKE_CURRENT_SOURCE_DIR}/src/kernels/avx512_base64.cpp)
    target_sources(mime_cores PRIVATE ${mime_avx512_sources})
    set_source_files_properties(${mime_avx512_sources} PROPERTIES
      COMPILE_OPTIONS "-mavx512f;-mavx512bw;-mavx512vbmi;-mavx512vbmi2;-mpopcnt;$<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>")
    # (GCC 12 warns inside its own AVX-512 headers.)
    target_compile_definitions(mime_cores PUBLIC MIME_AVX512_KERNELS=1)
  else()
    target_compile_definitions(mime_cores PUBLIC MIME_AVX512_KERNELS=0)
  endif()
else()
  target_compile_definitions(mime_cores PUBLIC MIME_X86_KERNELS=0 MIME_AVX512_KERNELS=0)
endif()

if(NOT MIME_KERNEL STREQUAL "auto")
  if(NOT MIME_KERNEL IN_LIST mime_kernel_sets)
    message(FATAL_ERROR "MIME_KERNEL=${MIME_KERNEL}: this compiler and target offer: auto ${mime_kernel_sets}")
  endif()
  target_compile_definitions(mime_cores PRIVATE MIME_KERNEL_PINNED=${MIME_KERNEL})
endif()

# The sets this machine runs, asked of the CPU at configure time.
set(mime_machine_sets scalar)
if(mime_x86_kernels AND NOT CMAKE_CROSSCOMPILING)
  set(mime_probe ${CMAKE_BINARY_DIR}/mime_cpu_probe.cpp)
  file(WRITE ${mime_probe} "#include <cstdio>
int main() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports(\"ssse3\")) std::printf(\"ssse3;\");
    if (__builtin_cpu_supports(\"avx2\")) std::printf(\"avx2;\");
    if (__builtin_cpu_supports(\"avx2\") && __builtin_cpu_supports(\"avx512f\") &&
        __builtin_cpu_supports(\"avx512bw\") && __builtin_cpu_supports(\"avx512vbmi\") &&
        __builtin_cpu_supports(\"avx512vbmi2\") && __builtin_cpu_supports(\"popcnt\"))
        std::printf(\"avx512;\");
    return 0;
}
")
  try_run(mime_probe_ran mime_probe_built ${CMAKE_BINARY_DIR}/mime_cpu_probe ${mime_probe}
          RUN_OUTPUT_VARIABLE mime_probe_output)
  if(mime_probe_built AND mime_probe_ran EQUAL 0)
    list(APPEND mime_machine_sets ${mime_probe_output})
    list(REMOVE_ITEM mime_machine_sets "")
  endif()
  if(NOT mime_avx512_kernels)
    list(REMOVE_ITEM mime_machine_sets avx512)
  endif()
endif()
message(STATUS "Kernel sets: built ${mime_kernel_sets}; this machine runs ${mime_machine_sets}; module uses ${MIME_KERNEL}")
if(NOT MIME_KERNEL STREQUAL "auto" AND NOT MIME_KERNEL IN_LIST mime_machine_sets)
  message(WARNING "MIME_KERNEL=${MIME_KERNEL}: this machine cannot run that set; the module will fail here")
endif()

# Registered at the end of the top directory, once mime_add_module, the test
# switches and the interpreters are known.
function(mime_register_kernel_tests)
  if(MIME_BENCH)
    include(${CMAKE_SOURCE_DIR}/bench/bench.cmake)
  endif()
  if(NOT BUILD_TESTING)
    return()
  endif()
  add_executable(mime_kernels_differential ${CMAKE_SOURCE_DIR}/test/kernels/differential.cpp)
  target_link_libraries(mime_kernels_differential PRIVATE mime_cores)
  target_compile_options(mime_kernels_differential PRIVATE -Wall -Wextra -fno-exceptions
                         ${mime_sanitize_flags})
  target_link_options(mime_kernels_differential PRIVATE ${mime_sanitize_flags})
  add_test(NAME kernels-differential COMMAND mime_kernels_differential)

  if(NOT BUSTED OR NOT MIME_LUA_5.1)
    return()
  endif()
  foreach(set ${mime_machine_sets})
    set(target mime_core_kernel_${set})
    set(directory ${CMAKE_BINARY_DIR}/kernel-${set})
    mime_add_module(${target} 5.1 ${directory})
    if(NOT ${target}_FOUND)
      return()
    endif()
    # The module's own copy of the dispatch, pinned: the linker then takes
    # nothing from the cores' copy.
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/module/cpu.cpp)
    target_compile_definitions(${target} PRIVATE MIME_KERNEL_PINNED=${set})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    if(mime_sanitize_flags)
      target_compile_options(${target} PRIVATE ${mime_sanitize_flags})
      target_link_options(${target} PRIVATE ${mime_sanitize_flags})
    endif()
    add_test(NAME busted-kernel-${set}
             COMMAND sh ${CMAKE_SOURCE_DIR}/test/run_busted.sh ${MIME_LUA_5.1} ${BUSTED} ${directory}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL mime_register_kernel_tests)
