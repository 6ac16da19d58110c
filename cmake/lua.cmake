# The Lua versions the module is built and tested for, and the two ways to build
# against one: the loadable module, and an executable that embeds that Lua with
# the module linked in (test hosts, fuzzers).

# Interpreter, pkg-config package and module path (lib/lua/<abi>) of each Lua.
set(MIME_LUA_KNOWN 5.1 luajit 5.2 5.3 5.4)
foreach(version 5.1 5.2 5.3 5.4)
  set(MIME_INTERPRETER_${version} lua${version})
  set(MIME_PKG_${version} lua${version})
  set(MIME_ABI_${version} ${version})
endforeach()
set(MIME_INTERPRETER_luajit luajit)
set(MIME_PKG_luajit luajit)
set(MIME_ABI_luajit 5.1)

# The Lua glue: the only sources that include a Lua header.
set(MIME_GLUE_SOURCES
  ${PROJECT_SOURCE_DIR}/src/module/core.cpp
  ${PROJECT_SOURCE_DIR}/src/module/glue.cpp
  ${PROJECT_SOURCE_DIR}/src/module/output.cpp)

find_package(PkgConfig)

# mime_find_lua(<version> <prefix>): the pkg-config facts of that Lua, as
# <prefix>_FOUND, _INCLUDE_DIRS, _LIBRARY_DIRS and _LIBRARIES.
# (pkg-config keeps what it found per prefix: one prefix per version.)
macro(mime_find_lua version prefix)
  string(REPLACE "." "" mime_lua_id ${version})
  set(${prefix}_FOUND FALSE)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(MIME_LUA_PKG_${mime_lua_id} QUIET ${MIME_PKG_${version}})
    foreach(fact FOUND INCLUDE_DIRS LIBRARY_DIRS LIBRARIES)
      set(${prefix}_${fact} ${MIME_LUA_PKG_${mime_lua_id}_${fact}})
    endforeach()
  endif()
endmacro()

# mime_add_module(<target> <lua version> <output directory> [<dispatch>]): the
# loadable `core` for one Lua, at <output directory>/mime/core.so, with the
# kernel dispatch <dispatch> (default mime_dispatch; mime_dispatch_<set> pins a
# set). Sets <target>_FOUND to FALSE when that Lua's headers are missing.
function(mime_add_module target version directory)
  set(dispatch mime_dispatch)
  if(ARGC GREATER 3)
    set(dispatch ${ARGV3})
  endif()
  if(version STREQUAL LUA_VERSION AND LUA_INCLUDE_DIR)
    set(include_dirs ${LUA_INCLUDE_DIR})
  else()
    mime_find_lua(${version} lua)
    set(include_dirs ${lua_INCLUDE_DIRS})
    if(NOT lua_FOUND)
      set(${target}_FOUND FALSE PARENT_SCOPE)
      return()
    endif()
  endif()
  add_library(${target} MODULE ${MIME_GLUE_SOURCES})
  target_include_directories(${target} PRIVATE ${include_dirs})
  target_link_libraries(${target} PRIVATE mime_flags mime_cores ${dispatch})
  # The interpreter provides the Lua API: the module links no Lua library.
  if(APPLE)
    target_link_options(${target} PRIVATE -undefined dynamic_lookup)
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME core
                        LIBRARY_OUTPUT_DIRECTORY ${directory}/mime)
  set(${target}_FOUND TRUE PARENT_SCOPE)
endfunction()

# mime_add_lua_executable(<target> <lua version> <source>...): an executable that
# embeds that Lua (its library) with the glue and the cores linked in. Sets
# <target>_FOUND to FALSE, adding nothing, when the library is missing.
function(mime_add_lua_executable target version)
  mime_find_lua(${version} lua)
  if(NOT lua_FOUND)
    set(${target}_FOUND FALSE PARENT_SCOPE)
    return()
  endif()
  add_executable(${target} ${ARGN} ${MIME_GLUE_SOURCES})
  target_include_directories(${target} PRIVATE ${lua_INCLUDE_DIRS})
  target_link_directories(${target} PRIVATE ${lua_LIBRARY_DIRS})
  target_link_libraries(${target} PRIVATE mime_flags mime_cores mime_dispatch ${lua_LIBRARIES})
  set(${target}_FOUND TRUE PARENT_SCOPE)
endfunction()
