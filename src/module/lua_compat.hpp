// Everything that differs between the Lua versions the module supports (5.1,
// LuaJIT 2.1, 5.2, 5.3, 5.4). No other file looks at LUA_VERSION_NUM.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstddef>
#include <cstdint>

#if LUA_VERSION_NUM <= 501
#include <dlfcn.h>
#endif

namespace mime {

#if LUA_VERSION_NUM <= 501

inline std::size_t userdata_length(lua_State* L, int index) { return lua_objlen(L, index); }

// The largest userdata the interpreter can make. LuaJIT (which shares 5.1's
// interface, so a module built for 5.1 may run in it) refuses anything above
// 0x7fffff00 bytes; it is told apart by a function only it exports.
inline std::size_t largest_userdata() {
    static const bool luajit = dlsym(RTLD_DEFAULT, "luaJIT_setmode") != nullptr;
    return luajit ? std::size_t{0x7fffff00} : SIZE_MAX;
}

// The table of a library name, as Lua 5.1 finds it: package.loaded[name], else the
// global of that name (created if missing, and then stored in package.loaded).
inline void register_library(lua_State* L, const char* name, const luaL_Reg* functions) {
    luaL_register(L, name, functions);
}

inline bool is_integer(lua_State*, int) { return false; }

#else

inline std::size_t userdata_length(lua_State* L, int index) { return lua_rawlen(L, index); }

inline std::size_t largest_userdata() { return SIZE_MAX; }

inline void register_library(lua_State* L, const char* name, const luaL_Reg* functions) {
    luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(L, -1, name);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_pushglobaltable(L);
        lua_pushstring(L, name);
        lua_rawget(L, -2);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            lua_newtable(L);
            lua_pushstring(L, name);
            lua_pushvalue(L, -2);
            lua_settable(L, -4);
        } else if (!lua_istable(L, -1)) {
            luaL_error(L, "name conflict for module '%s'", name);
        }
        lua_remove(L, -2);  // the global table
        lua_pushvalue(L, -1);
        lua_setfield(L, -3, name);
    }
    lua_remove(L, -2);  // package.loaded
    luaL_setfuncs(L, functions, 0);
}

#if LUA_VERSION_NUM >= 503
inline bool is_integer(lua_State* L, int index) { return lua_isinteger(L, index); }
#else
inline bool is_integer(lua_State*, int) { return false; }
#endif

#endif

// A required number argument that the caller may give as any Lua number: an
// integer subtype where the version has one is taken exactly.
inline std::int64_t check_int64(lua_State* L, int index) {
    if (is_integer(L, index)) return static_cast<std::int64_t>(lua_tointeger(L, index));
    lua_Number n = luaL_checknumber(L, index);
    if (n != n) return 0;
    if (n >= 9223372036854775807.0) return INT64_MAX;  // 2^63 and above
    if (n <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(n);
}

}  // namespace mime
