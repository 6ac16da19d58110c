// Allocation failure: a Lua state (of the Lua this host is built with: 5.1,
// LuaJIT, 5.2, 5.3 or 5.4) whose allocator fails at the N-th allocation of a
// call, for every N up to the number the call needs (and a few more), with
// inputs large enough that the output grows well past its first block. Each call
// must either succeed with the right result or raise Lua's memory error, "not
// enough memory"; the state must stay usable (the same call then succeeds, and
// so does string.rep, which builds its result in a buffer of Lua's own); and
// once the state is closed every byte the allocator handed out must be back (all
// of the module's memory is Lua's). Run under AddressSanitizer (MIME_SANITIZE=address) it also
// shows that nothing is read or written out of bounds on the failure paths.
//
// Two modes: the N-th allocation alone fails, or it and every one after it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "../kernels/step_vs_bulk.hpp"
#include "mixed_data.hpp"

extern "C" int luaopen_mime_core(lua_State* L);

namespace {

struct budget {
    std::size_t allocations;  // blocks asked for or grown
    std::size_t fail_at;      // 0: never
    bool persistent;          // fail from fail_at on, not only there
    std::size_t refused;
    long long live;           // bytes handed out and not given back
};

void* allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    budget* b = static_cast<budget*>(ud);
    std::size_t old_size = ptr != nullptr ? osize : 0;
    if (nsize == 0) {
        b->live -= static_cast<long long>(old_size);
        std::free(ptr);
        return nullptr;
    }
    if (nsize > old_size) {
        ++b->allocations;
        if (b->fail_at != 0 && (b->allocations == b->fail_at ||
                                (b->persistent && b->allocations > b->fail_at))) {
            ++b->refused;
            return nullptr;
        }
    }
    void* p = std::realloc(ptr, nsize);
    if (p == nullptr) return nullptr;
    b->live += static_cast<long long>(nsize) - static_cast<long long>(old_size);
    return p;
}

int failures = 0;

void fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++failures;
}

// One call: a filter and its arguments (nil where `has` is false).
struct call {
    const char* label;
    const char* name;
    int nargs;
    bool has[3];
    std::string text[3];
    lua_Number number[3];
    bool is_number[3];
};

// Opens the standard libraries and the module, protected.
int open_all(lua_State* L) {
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_mime_core);
    lua_call(L, 0, 0);
    return 0;
}

// lua_newstate with this allocator works on every Lua here, LuaJIT's 64-bit
// GC64 build included (its older non-GC64 builds refuse a custom allocator).
lua_State* new_state(budget& b) {
    lua_State* L = lua_newstate(allocate, &b);
    if (L != nullptr) {
        lua_pushcfunction(L, open_all);
        if (lua_pcall(L, 0, 0, 0) != 0) L = nullptr;
    }
    if (L == nullptr) {
        std::fprintf(stderr, "cannot open a Lua state with the module\n");
        std::exit(1);
    }
    return L;
}

void push_call(lua_State* L, const call& c) {
    lua_getglobal(L, "mime");
    lua_getfield(L, -1, c.name);
    lua_remove(L, -2);
    for (int i = 0; i < c.nargs; ++i) {
        if (!c.has[i])
            lua_pushnil(L);
        else if (c.is_number[i])
            lua_pushnumber(L, c.number[i]);
        else
            lua_pushlstring(L, c.text[i].data(), c.text[i].size());
    }
}

// The two results as text: "nil", a number, or the string itself.
std::string results_of(lua_State* L) {
    std::string out;
    for (int i = 1; i <= 2; ++i) {
        if (lua_isnil(L, i)) {
            out += "<nil>";
        } else if (lua_type(L, i) == LUA_TNUMBER) {
            char number[64];
            std::snprintf(number, sizeof number, "<%.17g>", lua_tonumber(L, i));
            out += number;
        } else {
            std::size_t n = 0;
            const char* s = lua_tolstring(L, i, &n);
            out.append(s, n);
        }
        out += '|';
    }
    return out;
}

// What the step functions give for the call: the right result.
std::string expected_of(const call& c) {
    using namespace check;
    which w = FILTER_COUNT;
    for (unsigned i = 0; i < FILTER_COUNT; ++i)
        if (std::strcmp(filter_names[i], c.name) == 0) w = static_cast<which>(i);
    bytes text;
    if (is_codec(w)) {
        bytes line_end = w == QP && c.has[2] ? c.text[2] : bytes("\r\n");
        carry s = start(0, 0, line_end);
        step(w, s, data_of(c.text[0]), c.text[0].size(), text);
        if (!c.has[1]) {
            finish(w, s, text);
            return (text.empty() ? bytes("<nil>") : text) + "|<nil>|";
        }
        step(w, s, data_of(c.text[1]), c.text[1].size(), text);
        return text + "|" + remainder(s) + "|";
    }
    bytes line_end = w == EOL && c.has[2] ? c.text[2] : bytes("\r\n");
    std::int32_t line_length = (w == WRP || w == QPWRP) && c.has[2] ? static_cast<std::int32_t>(c.number[2]) : 76;
    carry s = start(static_cast<std::int64_t>(c.number[0]), line_length, line_end);
    step(w, s, data_of(c.text[1]), c.text[1].size(), text);
    char number[64];
    std::snprintf(number, sizeof number, "<%.17g>|", static_cast<double>(s.filter.state));
    return text + "|" + number;
}

// Runs `c` once with the allocator failing at the given allocation of the call,
// after `warm` (if any) has run in the same state without failing, so that what
// the module keeps in a state between calls is there; returns whether the
// failure happened inside the call.
bool run_once(const call& c, const std::string& expected, std::size_t n, bool persistent,
              const call* warm) {
    budget b{};
    lua_State* L = new_state(b);
    if (warm != nullptr) {
        push_call(L, *warm);
        if (lua_pcall(L, warm->nargs, 2, 0) != 0) fail(std::string(warm->label) + ": warm-up call failed");
        lua_settop(L, 0);
    }
    push_call(L, c);
    int base = lua_gettop(L) - c.nargs - 1;
    b.fail_at = n == 0 ? 0 : b.allocations + n;
    b.persistent = persistent;
    int status = lua_pcall(L, c.nargs, 2, 0);
    b.fail_at = 0;
    bool refused = b.refused != 0;
    std::string where = std::string(c.label) + (warm ? " after " + std::string(warm->label) : "") +
                        ", failing at allocation " + std::to_string(n) + (persistent ? " and after" : " alone");
    if (status == 0) {
        lua_settop(L, base + 2);
        if (results_of(L) != expected) fail(where + ": succeeded with a wrong result");
    } else if (status == LUA_ERRMEM) {
        const char* message = lua_tostring(L, -1);
        if (message == nullptr || std::strcmp(message, "not enough memory") != 0)
            fail(where + ": memory error with message " + (message ? message : "(none)"));
        if (!refused) fail(where + ": memory error though no allocation was refused");
    } else {
        fail(where + ": error " + (lua_tostring(L, -1) ? lua_tostring(L, -1) : "(none)"));
    }
    lua_settop(L, base);
    // Still usable: the same call succeeds now, and so does Lua's own buffer.
    push_call(L, c);
    if (lua_pcall(L, c.nargs, 2, 0) != 0) {
        fail(where + ": the state is not usable afterwards: " + lua_tostring(L, -1));
    } else {
        lua_settop(L, base + 2);
        if (results_of(L) != expected) fail(where + ": the later call gave a wrong result");
    }
    lua_settop(L, base);
    lua_getglobal(L, "string");
    lua_getfield(L, -1, "rep");
    lua_pushliteral(L, "ab");
    lua_pushinteger(L, 5000);
    if (lua_pcall(L, 2, 1, 0) != 0) {
        fail(where + ": string.rep fails afterwards: " + lua_tostring(L, -1));
    } else {
        std::size_t n = 0;
        lua_tolstring(L, -1, &n);
        if (n != 10000) fail(where + ": string.rep gives a wrong result afterwards");
    }
    lua_close(L);
    if (b.live != 0) fail(where + ": " + std::to_string(b.live) + " bytes not given back after lua_close");
    return refused;
}

std::string mixed_data(std::size_t size, unsigned seed) {
    // Text with line breaks, dots, "=", spaces, tabs and 8-bit bytes.
    static const char alphabet[] = "abcdefghij =.\t\r\n\r\n.\xe9\x00\xff=4A";
    return draw_bytes(size, seed * 2654435761u + 1, alphabet);
}

call text_call(const char* label, const char* name, std::initializer_list<const std::string*> args) {
    call c{label, name, static_cast<int>(args.size()), {}, {}, {}, {}};
    int i = 0;
    for (const std::string* a : args) {
        c.has[i] = a != nullptr;
        if (a) c.text[i] = *a;
        ++i;
    }
    return c;
}

call state_call(const char* label, const char* name, lua_Number state, const std::string& chunk,
                bool has_param, lua_Number number, const std::string& text) {
    call c{label, name, has_param ? 3 : 2, {true, true, has_param}, {"", chunk, text}, {state, 0, number},
           {true, false, has_param && text.empty()}};
    return c;
}

}  // namespace

int main() {
    const std::size_t big = 1280 * 1024;  // 1.25 MiB in, more out
    const std::string data = mixed_data(big, 1);
    const std::string small = mixed_data(300, 2);
    const std::string base64 = [&] {
        std::string t, crlf = "\r\n";
        check::carry s = check::start(0, 0, crlf);
        check::step(check::B64, s, check::data_of(data), data.size(), t);
        return t + "\r\n!!";
    }();
    const std::string crlf = "\r\n", x = "x", empty = "", long_end(300, 'E');

    std::vector<call> calls = {
        text_call("b64 1.25 MiB", "b64", {&x, &data}),
        text_call("b64 1.25 MiB, end of stream", "b64", {&data, nullptr}),
        text_call("b64 small", "b64", {&x, &small}),
        text_call("unb64 1.7 MiB", "unb64", {&empty, &base64}),
        text_call("unb64 end of stream", "unb64", {&base64, nullptr}),
        text_call("qp 1.25 MiB", "qp", {&x, &data, &crlf}),
        text_call("qp long line end, end of stream", "qp", {&data, nullptr, &long_end}),
        text_call("qp small", "qp", {&small, &empty}),
        text_call("unqp 1.25 MiB", "unqp", {&empty, &data}),
        text_call("unqp end of stream", "unqp", {&data, nullptr}),
        state_call("wrp 1.25 MiB", "wrp", 0, data, true, 76, ""),
        state_call("wrp line length 0", "wrp", 0, data, true, 0, ""),
        state_call("qpwrp 1.25 MiB", "qpwrp", 76, data, false, 0, ""),
        state_call("qpwrp line length 1", "qpwrp", 1, data, true, 1, ""),
        state_call("eol 1.25 MiB", "eol", 0, data, false, 0, ""),
        state_call("eol long line end", "eol", 13, data, true, 0, long_end),
        state_call("dot 1.25 MiB", "dot", 2, data, false, 0, ""),
        state_call("dot small", "dot", 2, small, false, 0, ""),
    };
    // The line end of eol is text, not a number.
    for (call& c : calls)
        if (std::strcmp(c.name, "eol") == 0 && c.has[2]) c.is_number[2] = false;

    const std::string medium = mixed_data(20 * 1024, 3);
    const call warm_up = text_call("b64 20 KiB", "b64", {&x, &medium});
    for (const call& c : calls) {
        std::string expected = expected_of(c);
        // How many allocations the call makes when nothing fails.
        budget b{};
        lua_State* L = new_state(b);
        push_call(L, c);
        int base = lua_gettop(L) - c.nargs - 1;
        std::size_t before = b.allocations;
        if (lua_pcall(L, c.nargs, 2, 0) != 0) {
            fail(std::string(c.label) + ": " + lua_tostring(L, -1));
            lua_close(L);
            continue;
        }
        std::size_t needed = b.allocations - before;
        lua_settop(L, base + 2);
        if (results_of(L) != expected) fail(std::string(c.label) + ": wrong result with no failure");
        lua_close(L);
        if (b.live != 0) fail(std::string(c.label) + ": bytes not given back");

        std::size_t refused_calls = 0;
        for (std::size_t n = 1; n <= needed + 2; ++n) {
            refused_calls += run_once(c, expected, n, false, nullptr);
            run_once(c, expected, n, true, nullptr);
            // With what earlier calls left in the state: a smaller result, or
            // the same call.
            run_once(c, expected, n, false, &warm_up);
            run_once(c, expected, n, false, &c);
        }
        std::printf("%-34s %2zu allocations, %2zu of them failed in turn\n", c.label, needed, refused_calls);
        if (refused_calls < needed) fail(std::string(c.label) + ": not every allocation was reached");
    }
    if (failures != 0) {
        std::printf("allocation failure: %d problems\n", failures);
        return 1;
    }
    std::printf("allocation failure: every call succeeded or raised \"not enough memory\"\n");
    return 0;
}
