#include "module/output.hpp"

#include <cstring>

namespace mime {

#if MIME_OUTPUT_OWN_BOX

void output_grow(output& o, std::size_t room) {
    if (room > SIZE_MAX - o.size) luaL_error(o.L, "not enough memory");
    std::size_t needed = o.size + room;
    std::size_t capacity = o.capacity <= SIZE_MAX / 2 ? o.capacity * 2 : SIZE_MAX;
    if (capacity < needed) capacity = needed;
    // The old storage stays anchored (in the writer or on the stack) until copied.
    auto* box = static_cast<unsigned char*>(lua_newuserdata(o.L, capacity));
    std::memcpy(box, o.base, o.size);
    if (o.box != 0)
        lua_replace(o.L, o.box);
    else
        o.box = lua_gettop(o.L);
    o.base = box;
    o.capacity = capacity;
}

#endif

}  // namespace mime
