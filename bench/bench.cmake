# Benchmark builds (MIME_BENCH=ON, included by the top CMakeLists.txt; bench/run.sh
# configures its own builds): for Lua 5.1 and LuaJIT, the module at
# bench-<lua>/mime/core.so, the per-byte reference at
# bench-<lua>/mime_baseline/core.so and the copy floor at bench-<lua>/mime_floor.so;
# and mime_kernel_bench, the kernels alone (bench/kernel_bench.cpp). None of them
# is installed.
foreach(version 5.1 luajit)
  string(REPLACE "." "" suffix ${version})
  set(directory ${CMAKE_BINARY_DIR}/bench-${version})
  mime_add_module(mime_bench_core_${suffix} ${version} ${directory})
  if(NOT mime_bench_core_${suffix}_FOUND)
    message(STATUS "No headers for Lua ${version}: not benchmarked")
    continue()
  endif()
  get_target_property(headers mime_bench_core_${suffix} INCLUDE_DIRECTORIES)
  add_library(mime_baseline_${suffix} MODULE ${CMAKE_SOURCE_DIR}/bench/baseline/baseline.cpp)
  add_library(mime_floor_${suffix} MODULE ${CMAKE_SOURCE_DIR}/bench/floor/floor.cpp)
  foreach(target mime_baseline_${suffix} mime_floor_${suffix})
    target_include_directories(${target} PRIVATE ${headers})
    target_compile_options(${target} PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti)
    set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
  endforeach()
  set_target_properties(mime_baseline_${suffix} PROPERTIES
    OUTPUT_NAME core LIBRARY_OUTPUT_DIRECTORY ${directory}/mime_baseline)
  set_target_properties(mime_floor_${suffix} PROPERTIES
    OUTPUT_NAME mime_floor LIBRARY_OUTPUT_DIRECTORY ${directory})
endforeach()

add_executable(mime_kernel_bench ${CMAKE_SOURCE_DIR}/bench/kernel_bench.cpp)
target_link_libraries(mime_kernel_bench PRIVATE mime_flags mime_cores mime_dispatch)
