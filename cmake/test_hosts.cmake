# The C++ test hosts of test/host/, each embedding a Lua with the module linked
# in: allocation failure at every point of a call, and many states on many
# threads, each built for every Lua. Registered with ctest when that Lua's
# library is found.

find_package(Threads REQUIRED)

# mime_add_test_host(<target> <test> <lua version> <source>): the host <target>,
# run by ctest as <test>; for a Lua other than 5.1 both get a suffix naming it.
function(mime_add_test_host target test version source)
  if(NOT version STREQUAL "5.1")
    string(REPLACE "." "" suffix ${version})
    set(target ${target}_${suffix})
    set(test ${test}-${version})
  endif()
  mime_add_lua_executable(${target} ${version} ${source})
  if(NOT ${target}_FOUND)
    message(WARNING "No library for Lua ${version} (its -dev package): ${target} is not built")
    return()
  endif()
  target_link_libraries(${target} PRIVATE Threads::Threads)
  add_test(NAME ${test} COMMAND ${target})
  # Huge pages for malloc: the hosts open thousands of states, each moving
  # megabytes through fresh memory; with small pages most of their time went to
  # page faults (163 s against 14 s for one allocation-failure host).
  set_tests_properties(${test} PROPERTIES ENVIRONMENT GLIBC_TUNABLES=glibc.malloc.hugetlb=1)
endfunction()

foreach(version ${MIME_LUA_KNOWN})
  mime_add_test_host(mime_alloc_host host-allocation-failure ${version} test/host/alloc_host.cpp)
  mime_add_test_host(mime_threads_host host-threads ${version} test/host/threads_host.cpp)
endforeach()
