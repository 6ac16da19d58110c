#include "module/output.hpp"

#include <cstring>

namespace mime {

namespace {

// The registry key of the kept box: the address of this variable.
char kept_box_key;

// Moves the result so far into `box` (on top of the stack).
void move_to_box(output& o, unsigned char* box, std::size_t capacity) {
    std::memcpy(box, o.base, o.size);
    if (o.box != 0)
        lua_replace(o.L, o.box);
    else
        o.box = lua_gettop(o.L);
    o.base = box;
    o.capacity = capacity;
}

}  // namespace

void output_keep_box(output& o) {
    lua_pushlightuserdata(o.L, &kept_box_key);
    lua_pushvalue(o.L, o.box);
    lua_rawset(o.L, LUA_REGISTRYINDEX);
}

void output_grow(output& o, std::size_t room) {
    if (room > SIZE_MAX - o.size) luaL_error(o.L, "not enough memory");
    std::size_t needed = o.size + room;
    if (o.box == 0 && needed <= kept_box_limit) {
        lua_pushlightuserdata(o.L, &kept_box_key);
        lua_rawget(o.L, LUA_REGISTRYINDEX);
        if (lua_type(o.L, -1) == LUA_TUSERDATA && userdata_length(o.L, -1) >= needed) {
            auto* kept = static_cast<unsigned char*>(lua_touserdata(o.L, -1));
            std::size_t capacity = userdata_length(o.L, -1);
            // Taken out of the registry while in use: a call made from a finalizer
            // in the middle of this one finds no box to share.
            lua_pushlightuserdata(o.L, &kept_box_key);
            lua_pushnil(o.L);
            lua_rawset(o.L, LUA_REGISTRYINDEX);
            move_to_box(o, kept, capacity);
            return;
        }
        lua_pop(o.L, 1);
    }
    // Doubled up to the interpreter's limit; past it only the exact need, which
    // the interpreter then refuses.
    std::size_t limit = largest_userdata();
    if (needed > limit) luaL_error(o.L, "not enough memory");
    std::size_t capacity = o.capacity <= limit / 2 ? o.capacity * 2 : limit;
    if (capacity < needed) capacity = needed;
    // The old storage stays anchored (in the writer or on the stack) until copied.
    move_to_box(o, static_cast<unsigned char*>(lua_newuserdata(o.L, capacity)), capacity);
}

}  // namespace mime
