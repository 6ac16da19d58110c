// Fuzzer for the Lua glue: embeds Lua 5.1, opens the module once and calls one of
// its eight functions with fuzzer-chosen arguments of every Lua type (nil,
// booleans, numbers with NaN, infinities and huge values, strings, numeric
// strings, tables, functions, userdata, coroutines), in any number. Each call
// must either
//   - raise Lua's argument error "bad argument #N" for exactly the first argument
//     (in the order the function reads them) whose type it refuses, or
//   - return the two results the step functions give for the arguments as read:
//     chunks as strings (a number in its string form), states truncated and
//     clamped as documented, results integers.
// Input: the function, the argument count, a kind (and value) per argument; the
// bytes left over are the data that "data" arguments hold.
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

#include "drive.hpp"

extern "C" int luaopen_mime_core(lua_State* L);

using namespace fuzz;

namespace {

// Order of registration in the module does not matter here; names do.
const which order[8] = {B64, UNB64, QP, UNQP, QPWRP, WRP, EOL, DOT};

lua_State* state() {
    static lua_State* L = [] {
        lua_State* s = luaL_newstate();
        luaL_openlibs(s);
        lua_pushcfunction(s, luaopen_mime_core);
        lua_call(s, 0, 1);
        lua_setglobal(s, "M");
        // A function and a coroutine to pass as arguments.
        luaL_dostring(s, "F = function() end; C = coroutine.create(F)");
        return s;
    }();
    return L;
}

[[noreturn]] void fail_call(which w, const char* what) {
    std::fprintf(stderr, "%s: %s\n", filter_names[w], what);
    std::abort();
}

// What a check makes of the argument at `index` (nil when absent).
enum class role { ignored, opt_string, check_number, opt_number };

struct read_value {
    bool refused;
    bool is_nil;
    bytes text;
    lua_Number number;
};

read_value read_as(lua_State* L, int index, int top, role r) {
    read_value v{false, true, {}, 0};
    if (index > top || lua_isnil(L, index)) {
        if (r == role::check_number) v.refused = true;
        return v;
    }
    v.is_nil = false;
    // A copy, so that a number argument is not turned into a string in place.
    lua_pushvalue(L, index);
    switch (r) {
    case role::opt_string:
        if (lua_isstring(L, -1)) {
            std::size_t n = 0;
            const char* s = lua_tolstring(L, -1, &n);
            v.text.assign(s, n);
        } else {
            v.refused = true;
        }
        break;
    case role::check_number:
    case role::opt_number:
        if (lua_isnumber(L, -1))
            v.number = lua_tonumber(L, -1);
        else
            v.refused = true;
        break;
    case role::ignored:
        break;
    }
    lua_pop(L, 1);
    return v;
}

std::int32_t as_int32(lua_Number n) {
    if (n != n) return 0;
    if (n >= 2147483647.0) return INT32_MAX;
    if (n <= -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(n);
}

std::int64_t as_int64(lua_Number n) {
    if (n != n) return 0;
    if (n >= 9223372036854775807.0) return INT64_MAX;
    if (n <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(n);
}

std::int64_t as_uint32_or_zero(lua_Number n) {
    if (!(n >= 0) || n >= 4294967296.0) return 0;
    return static_cast<std::int64_t>(n);
}

bytes up_to_zero(const bytes& b) { return b.substr(0, b.find('\0')); }

struct expected {
    int bad_argument;  // 0: no error
    bool first_nil;
    bytes first;
    bool second_is_number;
    bool second_nil;
    bytes second;
    lua_Number number;
};

expected expect_codec(lua_State* L, which w, int top) {
    expected e{};
    read_value carry = read_as(L, 1, top, role::opt_string);
    if (carry.refused) return e.bad_argument = 1, e;
    read_value line_end{false, true, {}, 0};
    if (w == QP) {
        line_end = read_as(L, 3, top, role::opt_string);
        if (line_end.refused) return e.bad_argument = 3, e;
    }
    if (carry.is_nil) return e.first_nil = e.second_nil = true, e;
    read_value chunk = read_as(L, 2, top, role::opt_string);
    if (chunk.refused) return e.bad_argument = 2, e;
    bytes end = line_end.is_nil ? bytes("\r\n") : up_to_zero(line_end.text);
    mime::codec_state s{};
    s.line_end = span_of(end);
    bytes out;
    step_codec(w, s, reinterpret_cast<const unsigned char*>(carry.text.data()), carry.text.size(), out);
    if (chunk.is_nil) {
        finish_codec(w, s, out);
        e.first_nil = out.empty();
        e.first = out;
        e.second_nil = true;
        return e;
    }
    step_codec(w, s, reinterpret_cast<const unsigned char*>(chunk.text.data()), chunk.text.size(), out);
    e.first = out;
    e.second = group_of(s);
    return e;
}

expected expect_filter(lua_State* L, which w, int top) {
    expected e{};
    read_value number = read_as(L, 1, top, role::check_number);
    if (number.refused) return e.bad_argument = 1, e;
    read_value chunk = read_as(L, 2, top, role::opt_string);
    if (chunk.refused) return e.bad_argument = 2, e;
    std::int32_t line_length = 76;
    bytes end = "\r\n";
    if (w == WRP || w == QPWRP) {
        read_value length = read_as(L, 3, top, role::opt_number);
        if (length.refused) return e.bad_argument = 3, e;
        if (!length.is_nil) line_length = as_int32(length.number);
    } else if (w == EOL) {
        read_value line_end = read_as(L, 3, top, role::opt_string);
        if (line_end.refused) return e.bad_argument = 3, e;
        if (!line_end.is_nil) end = up_to_zero(line_end.text);
    }
    std::int64_t st = w == EOL ? as_int64(number.number)
                    : w == DOT ? as_uint32_or_zero(number.number)
                               : as_int32(number.number);
    e.second_is_number = true;
    if (chunk.is_nil) {
        // The end-of-stream answers, as documented.
        e.first_nil = true;
        switch (w) {
        case WRP:
        case QPWRP:
            if (st < line_length) e.first_nil = false, e.first = w == WRP ? "\r\n" : "=\r\n";
            st = line_length;
            break;
        case EOL: st = 0; break;
        default: st = 2; break;
        }
        e.number = static_cast<lua_Number>(st);
        return e;
    }
    mime::filter_state s{st, line_length, span_of(end)};
    step_filter(w, s, reinterpret_cast<const unsigned char*>(chunk.text.data()), chunk.text.size(), e.first);
    e.number = static_cast<lua_Number>(s.state);
    return e;
}

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
    case 6:
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

bool same_string(lua_State* L, int index, const bytes& b) {
    if (lua_type(L, index) != LUA_TSTRING) return false;
    std::size_t n = 0;
    const char* s = lua_tolstring(L, index, &n);
    return n == b.size() && std::memcmp(s, b.data(), n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t input_size) {
    lua_State* L = state();
    reader r{input, input_size};
    which w = order[r.byte() % 8];
    int nargs = static_cast<int>(r.byte() % 5);
    // The arguments' descriptions come first; what follows them is the data. They
    // are read twice: once to find where the data starts, once to push them.
    reader probe = r;
    lua_settop(L, 0);
    for (int i = 0; i < nargs; ++i) push_argument(L, probe, bytes());
    lua_settop(L, 0);
    bytes data(reinterpret_cast<const char*>(probe.p), probe.n);

    lua_getglobal(L, "M");
    lua_getfield(L, -1, filter_names[w]);
    lua_remove(L, -2);
    for (int i = 0; i < nargs; ++i) push_argument(L, r, data);

    // Expectations from copies of the arguments (stack 2 .. nargs + 1), moved to
    // 1 .. nargs of a helper thread, so that the arguments themselves stay as pushed.
    expected e{};
    {
        lua_State* T = lua_newthread(L);
        for (int i = 0; i < nargs; ++i) lua_pushvalue(L, 2 + i);
        lua_xmove(L, T, nargs);
        e = is_codec(w) ? expect_codec(T, w, nargs) : expect_filter(T, w, nargs);
        lua_pop(L, 1);  // the thread
    }

    int status = lua_pcall(L, nargs, LUA_MULTRET, 0);
    if (e.bad_argument != 0) {
        if (status == 0) fail_call(w, "accepted an argument that must be refused");
        const char* message = lua_tostring(L, -1);
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "bad argument #%d", e.bad_argument);
        if (message == nullptr || std::strstr(message, wanted) == nullptr) {
            std::fprintf(stderr, "%s: wanted \"%s\", got \"%s\"\n", filter_names[w], wanted,
                         message ? message : "(no message)");
            std::abort();
        }
        lua_settop(L, 0);
        return 0;
    }
    if (status != 0) {
        std::fprintf(stderr, "%s: unexpected error: %s\n", filter_names[w], lua_tostring(L, -1));
        std::abort();
    }
    if (lua_gettop(L) != 2) fail_call(w, "did not return exactly two values");
    if (e.first_nil ? !lua_isnil(L, 1) : !same_string(L, 1, e.first)) {
        std::size_t n = 0;
        const char* got = lua_isstring(L, 1) ? lua_tolstring(L, 1, &n) : "(not a string)";
        fail("first result", w, e.first_nil ? bytes("(nil)") : e.first, bytes(got, got ? n : 0));
    }
    if (e.second_is_number) {
        if (lua_type(L, 2) != LUA_TNUMBER) fail_call(w, "second result is not a number");
        lua_Number n = lua_tonumber(L, 2);
        if (n != e.number || std::floor(n) != n || (n == 0 && std::signbit(n))) {
            std::fprintf(stderr, "%s: state %.17g, expected %.17g\n", filter_names[w], n, e.number);
            std::abort();
        }
    } else if (e.second_nil ? !lua_isnil(L, 2) : !same_string(L, 2, e.second)) {
        std::size_t n = 0;
        const char* got = lua_isstring(L, 2) ? lua_tolstring(L, 2, &n) : "(not a string)";
        fail("remainder", w, e.second_nil ? bytes("(nil)") : e.second, bytes(got, n));
    }
    lua_settop(L, 0);
    return 0;
}
