// The output writer: one per call, it owns the buffer in which the call builds its
// whole result. Filters ask for room for a whole block, write into it without a
// check per byte and commit what they wrote. Nothing here has a destructor, so a
// Lua error may unwind through it at any point.
#pragma once

#include <cstddef>

#include "module/lua_compat.hpp"

namespace mime {

// The first block lives in the writer itself; a larger result moves to one
// userdata box on the Lua stack, enlarged geometrically (never past what the
// interpreter can make) and freed by Lua, so that a failed allocation is Lua's
// own memory error on every version. A box of up to `kept_box_limit` bytes is
// kept in the registry after the call and taken again by the next large call in
// the same Lua state, so that streaming in large chunks does not allocate, fault
// in and free a fresh box every time.
inline constexpr std::size_t first_block_size = 8192;

struct output {
    lua_State* L;
    unsigned char* base;
    std::size_t size;
    std::size_t capacity;
    int box;  // stack index of the box, 0 while the first block is in use
    unsigned char first[first_block_size];
};

inline constexpr std::size_t kept_box_limit = 1024 * 1024;

void output_grow(output& o, std::size_t room);
void output_keep_box(output& o);

inline void output_start(output& o, lua_State* L) {
    o.L = L;
    o.base = o.first;
    o.size = 0;
    o.capacity = sizeof o.first;
    o.box = 0;
}

inline unsigned char* output_reserve(output& o, std::size_t room) {
    if (o.capacity - o.size < room) output_grow(o, room);
    return o.base + o.size;
}

inline void output_commit(output& o, unsigned char* end) {
    o.size = static_cast<std::size_t>(end - o.base);
}

inline void output_push(output& o) {
    lua_pushlstring(o.L, reinterpret_cast<const char*>(o.base), o.size);
    if (o.box != 0 && o.capacity <= kept_box_limit) output_keep_box(o);
}

inline std::size_t output_size(const output& o) { return o.size; }

inline std::size_t output_available(const output& o) { return o.capacity - o.size; }

}  // namespace mime
