// The benchmark's copy floor: what any filter must do at least for an output of
// n bytes. `copy(source, n)` writes n bytes, taken from `source` over and over,
// into a buffer and returns them as a new Lua string: one write of the output and
// one copy into the string, nothing decided. The buffer is kept from call to call
// (so a large call faults in no fresh memory for it), and only the string is
// returned: no filter can do less. Loaded as `mime_floor`; never installed.
extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

unsigned char* kept = nullptr;
std::size_t kept_size = 0;

int copy(lua_State* L) {
    std::size_t source_size = 0;
    const char* source = luaL_checklstring(L, 1, &source_size);
    lua_Integer wanted = luaL_checkinteger(L, 2);
    if (wanted <= 0) {
        lua_pushlstring(L, "", 0);
        return 1;
    }
    std::size_t size = static_cast<std::size_t>(wanted);
    if (size > kept_size) {
        void* grown = std::realloc(kept, size);
        if (grown == nullptr) return luaL_error(L, "not enough memory");
        kept = static_cast<unsigned char*>(grown);
        kept_size = size;
    }
    if (source_size == 0) {
        std::memset(kept, 'x', size);
    } else {
        for (std::size_t done = 0; done < size;) {
            std::size_t piece = size - done < source_size ? size - done : source_size;
            std::memcpy(kept + done, source, piece);
            done += piece;
        }
    }
    lua_pushlstring(L, reinterpret_cast<const char*>(kept), size);
    return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int luaopen_mime_floor(lua_State* L) {
    lua_newtable(L);
    lua_pushcfunction(L, copy);
    lua_setfield(L, -2, "copy");
    return 1;
}
