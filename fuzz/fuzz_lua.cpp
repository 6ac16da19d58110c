// Fuzzer for the Lua glue: embeds Lua (5.1 and 5.4, one fuzzer each), opens the module and loads the model of
// the eight filters (test/model.lua, written in Lua from the documented rules, the
// same model the busted suite checks against), then calls one function of each
// with the same fuzzer-chosen arguments of every Lua type (nil, booleans, numbers
// with NaN, infinities and huge values, strings, numeric strings, tables,
// functions, userdata, coroutines), in any number. The two must agree: both
// raise Lua's argument error for the same argument ("bad argument #N"), or both
// return the same two results (same types, same values).
// Input: the function, the argument count, a kind (and value) per argument; the
// bytes left over are the data that "data" arguments hold, once or repeated up to
// 128 times, so that results cross the glue's 32 KiB slices and the kept 1 MiB
// box.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

extern "C" int luaopen_mime_core(lua_State* L);

namespace {

using bytes = std::string;

const char* const names[8] = {"b64", "unb64", "qp", "unqp", "qpwrp", "wrp", "eol", "dot"};

lua_State* state() {
    static lua_State* L = [] {
        lua_State* s = luaL_newstate();
        luaL_openlibs(s);
        lua_pushcfunction(s, luaopen_mime_core);
        lua_call(s, 0, 1);
        lua_setglobal(s, "M");
        if (luaL_dofile(s, MIME_MODEL_FILE) != 0) {
            std::fprintf(stderr, "cannot load the model: %s\n", lua_tostring(s, -1));
            std::abort();
        }
        lua_setglobal(s, "MODEL");
        // A function and a coroutine to pass as arguments.
        luaL_dostring(s, "F = function() end; C = coroutine.create(F)");
        return s;
    }();
    return L;
}

struct reader {
    const unsigned char* p;
    std::size_t n;
    unsigned byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    std::uint64_t raw64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
};

void push_argument(lua_State* L, reader& r, const bytes& data) {
    static const lua_Number numbers[] = {
        0.0, -0.0, 1.0, 2.0, 3.0, 4.0, 10.0, 13.0, 76.0, -1.0, -2.5, 0.5, 2.9, -2.9,
        NAN, INFINITY, -INFINITY, 1e300, -1e300, 2147483647.0, 2147483648.0, -2147483648.0,
        -2147483649.0, 4294967295.0, 4294967296.0, 9007199254740992.0, 9223372036854775807.0,
        -9223372036854775808.0, 4294967298.5, 4294967309.0};
    static const char* const numeric_strings[] = {"12", " 3 ", "-7.5", "1e300", "0x10", "nan",
                                                  "inf", "", "4294967298", "abc", "2.9"};
    unsigned kind = r.byte() % 14;
    switch (kind) {
    case 0: lua_pushnil(L); break;
    case 1: lua_pushboolean(L, 1); break;
    case 2: lua_pushboolean(L, 0); break;
    case 3: lua_pushnumber(L, numbers[r.byte() % (sizeof numbers / sizeof numbers[0])]); break;
    case 4: {
        std::uint64_t bits = r.raw64();
        lua_Number n;
        std::memcpy(&n, &bits, sizeof n);
        lua_pushnumber(L, n);
        break;
    }
    case 5: {
        unsigned n = r.byte() % 24;
        bytes b;
        for (unsigned i = 0; i < n; ++i) b += static_cast<char>(r.byte());
        lua_pushlstring(L, b.data(), b.size());
        break;
    }
    case 6: {
        bytes repeated;
        for (unsigned i = 1u << (r.byte() % 8); i > 0; --i) repeated += data;
        lua_pushlstring(L, repeated.data(), repeated.size());
        break;
    }
    case 7: lua_pushlstring(L, data.data(), data.size()); break;
    case 8:
        lua_pushstring(L, numeric_strings[r.byte() % (sizeof numeric_strings / sizeof numeric_strings[0])]);
        break;
    case 9: lua_newtable(L); break;
    case 10: lua_getglobal(L, "F"); break;
    case 11: lua_getglobal(L, "C"); break;
    case 12:
        lua_getglobal(L, "io");
        lua_getfield(L, -1, "stdout");
        lua_remove(L, -2);
        break;
    default: lua_pushinteger(L, static_cast<std::int32_t>(r.raw64())); break;
    }
}

// Calls table[name] with the `nargs` values at 1 .. nargs; leaves its status and
// its results (or its message) on the stack, above them.
int call(lua_State* L, const char* table, const char* name, int nargs) {
    lua_getglobal(L, table);
    lua_getfield(L, -1, name);
    lua_remove(L, -2);
    for (int i = 1; i <= nargs; ++i) lua_pushvalue(L, i);
    return lua_pcall(L, nargs, LUA_MULTRET, 0);
}

// The N of "bad argument #N" in a message, or 0.
int blamed(lua_State* L, int index) {
    const char* message = lua_tostring(L, index);
    const char* at = message != nullptr ? std::strstr(message, "bad argument #") : nullptr;
    return at != nullptr ? std::atoi(at + std::strlen("bad argument #")) : 0;
}

bytes show(lua_State* L, int index) {
    if (lua_type(L, index) == LUA_TSTRING) {
        std::size_t n = 0;
        const char* s = lua_tolstring(L, index, &n);
        bytes text(s, n);
        return "\"" + (n > 300 ? text.substr(0, 300) + "..." : text) + "\" (" + std::to_string(n) + " bytes)";
    }
    if (lua_type(L, index) == LUA_TNUMBER) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", lua_tonumber(L, index));
        return number;
    }
    return lua_typename(L, lua_type(L, index));
}

[[noreturn]] void differ(lua_State* L, const char* name, const char* what, int module_at, int model_at) {
    std::fprintf(stderr, "MISMATCH in %s: %s\n  module: %s\n  model:  %s\n", name, what, show(L, module_at).c_str(),
                 show(L, model_at).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t input_size) {
    lua_State* L = state();
    reader r{input, input_size};
    const char* name = names[r.byte() % 8];
    int nargs = static_cast<int>(r.byte() % 5);
    // The arguments' descriptions come first; what follows them is the data. They
    // are read twice: once to find where the data starts, once to push them.
    reader probe = r;
    lua_settop(L, 0);
    for (int i = 0; i < nargs; ++i) push_argument(L, probe, bytes());
    lua_settop(L, 0);
    bytes data(reinterpret_cast<const char*>(probe.p), probe.n);
    for (int i = 0; i < nargs; ++i) push_argument(L, r, data);

    int module_status = call(L, "M", name, nargs);
    int module_at = nargs + 1, model_at = lua_gettop(L) + 1;
    int module_results = lua_gettop(L) - nargs;
    int model_status = call(L, "MODEL", name, nargs);
    int model_results = lua_gettop(L) - model_at + 1;
    if (module_status != 0 || model_status != 0) {
        if (module_status == 0 || model_status == 0) differ(L, name, "only one raised an error", module_at, model_at);
        if (blamed(L, module_at) == 0 || blamed(L, module_at) != blamed(L, model_at))
            differ(L, name, "errors blame different arguments", module_at, model_at);
    } else {
        if (module_results != 2 || model_results != 2) differ(L, name, "not two results", module_at, model_at);
        for (int i = 0; i < 2; ++i) {
            int a = module_at + i, b = model_at + i;
            bool same = lua_type(L, a) == lua_type(L, b) && lua_rawequal(L, a, b);
            if (same && lua_type(L, a) == LUA_TNUMBER) {
                lua_Number n = lua_tonumber(L, a);
                same = std::floor(n) == n && !(n == 0 && std::signbit(n));  // an integer, never -0
            }
            if (!same) differ(L, name, i == 0 ? "first result" : "second result", a, b);
        }
    }
    lua_settop(L, 0);
    return 0;
}
