# The libFuzzer fuzzers of fuzz/ (MIME_FUZZ=ON, clang++ only; the sanitizers come
# from cmake/sanitizers.cmake):
#   fuzz_cores  the Lua-free cores, every kernel set against the per-byte steps
#   fuzz_lua    the glue, embedding Lua 5.1, against the model of test/model.lua
#   fuzz_lua_54 the same embedding Lua 5.4

# mime_add_fuzzer(<target> <source>): a fuzzer of the cores alone.
function(mime_add_fuzzer target source)
  add_executable(${target} ${source})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/test/kernels)
  target_link_libraries(${target} PRIVATE mime_flags mime_cores mime_dispatch)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endfunction()

# mime_add_lua_fuzzer(<target> <lua version> <source>): a fuzzer that embeds that
# Lua, with the module and the model loaded in its state.
function(mime_add_lua_fuzzer target version source)
  mime_add_lua_executable(${target} ${version} ${source})
  if(NOT ${target}_FOUND)
    message(WARNING "No library for Lua ${version} (its -dev package): ${target} is not built")
    return()
  endif()
  target_compile_definitions(${target} PRIVATE MIME_MODEL_FILE="${PROJECT_SOURCE_DIR}/test/model.lua")
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endfunction()

mime_add_fuzzer(fuzz_cores fuzz/fuzz_cores.cpp)
mime_add_lua_fuzzer(fuzz_lua 5.1 fuzz/fuzz_lua.cpp)
mime_add_lua_fuzzer(fuzz_lua_54 5.4 fuzz/fuzz_lua.cpp)
