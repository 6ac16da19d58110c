# Benchmark builds (MIME_BENCH=ON, included by the top CMakeLists.txt; bench/run.sh
# configures its own build): for Lua 5.1 and LuaJIT, the module at
# bench-<lua>/mime/core.so and the per-byte reference at
# bench-<lua>/mime_baseline/core.so.
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
  target_include_directories(mime_baseline_${suffix} PRIVATE ${headers})
  target_compile_options(mime_baseline_${suffix} PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti)
  set_target_properties(mime_baseline_${suffix} PROPERTIES
    PREFIX ""
    OUTPUT_NAME core
    LIBRARY_OUTPUT_DIRECTORY ${directory}/mime_baseline
    CXX_VISIBILITY_PRESET hidden)
endforeach()
