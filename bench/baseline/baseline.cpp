// The benchmark's measuring stick: the eight filters written the plain way, one
// byte at a time through luaL_addchar into a luaL_Buffer, each by its per-byte
// step exactly as the module's design describes them (and with the team's rule
// for a lone CR in unqp, so that outputs can be compared). Loaded as
// `mime_baseline.core`; never installed.
extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstddef>
#include <cstring>

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char hex_digits[] = "0123456789ABCDEF";
unsigned char base64_value[256];
unsigned char qp_class[256];  // 0 literal, 1 escaped, 2 CR, 3 white space
unsigned char hex_value[256];

void fill_tables() {
    std::memset(base64_value, 255, sizeof base64_value);
    for (int i = 0; i < 64; ++i) base64_value[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    base64_value['='] = 0;
    for (int i = 0; i < 256; ++i) qp_class[i] = 1;
    for (int i = 33; i <= 60; ++i) qp_class[i] = 0;
    for (int i = 62; i <= 126; ++i) qp_class[i] = 0;
    qp_class['\t'] = qp_class[' '] = 3;
    qp_class['\r'] = 2;
    std::memset(hex_value, 255, sizeof hex_value);
    for (int i = 0; i < 10; ++i) hex_value['0' + i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 6; ++i) hex_value['A' + i] = hex_value['a' + i] = static_cast<unsigned char>(10 + i);
}

void add_string(luaL_Buffer* b, const char* s) { luaL_addstring(b, s); }

// --- Base64 ---
unsigned b64_push(unsigned char c, unsigned char* g, unsigned n, luaL_Buffer* b) {
    g[n++] = c;
    if (n < 3) return n;
    unsigned long v = (unsigned long)g[0] << 16 | (unsigned long)g[1] << 8 | g[2];
    char q[4] = {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    luaL_addlstring(b, q, 4);
    return 0;
}

void b64_finish(unsigned char* g, unsigned n, luaL_Buffer* b) {
    if (n == 1) {
        unsigned v = unsigned{g[0]} << 4;
        luaL_addchar(b, alphabet[v >> 6]);
        luaL_addchar(b, alphabet[v & 63]);
        luaL_addchar(b, '=');
        luaL_addchar(b, '=');
    } else if (n == 2) {
        unsigned v = (unsigned{g[0]} << 8 | g[1]) << 2;
        luaL_addchar(b, alphabet[v >> 12]);
        luaL_addchar(b, alphabet[(v >> 6) & 63]);
        luaL_addchar(b, alphabet[v & 63]);
        luaL_addchar(b, '=');
    }
}

unsigned unb64_push(unsigned char c, unsigned char* q, unsigned n, luaL_Buffer* b) {
    if (base64_value[c] == 255) return n;
    q[n++] = c;
    if (n < 4) return n;
    unsigned long v = (unsigned long)base64_value[q[0]] << 18 | (unsigned long)base64_value[q[1]] << 12 |
                      (unsigned long)base64_value[q[2]] << 6 | base64_value[q[3]];
    char d[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    luaL_addlstring(b, d, q[2] == '=' ? 1 : q[3] == '=' ? 2 : 3);
    return 0;
}

// --- Quoted-printable ---
void qp_escape(unsigned char c, luaL_Buffer* b) {
    luaL_addchar(b, '=');
    luaL_addchar(b, hex_digits[c >> 4]);
    luaL_addchar(b, hex_digits[c & 15]);
}

unsigned qp_push(unsigned char c, unsigned char* g, unsigned n, const char* line_end, luaL_Buffer* b) {
    g[n++] = c;
    while (n > 0) {
        switch (qp_class[g[0]]) {
        case 1:
            qp_escape(g[0], b);
            break;
        case 2:
            if (n < 2) return n;
            if (g[1] == '\n') {
                add_string(b, line_end);
                return 0;
            }
            qp_escape(g[0], b);
            break;
        case 3:
            if (n < 3) return n;
            if (g[1] == '\r' && g[2] == '\n') {
                qp_escape(g[0], b);
                add_string(b, line_end);
                return 0;
            }
            luaL_addchar(b, g[0]);
            break;
        default:
            luaL_addchar(b, g[0]);
            break;
        }
        g[0] = g[1];
        g[1] = g[2];
        --n;
    }
    return 0;
}

void qp_finish(unsigned char* g, unsigned n, luaL_Buffer* b) {
    for (unsigned i = 0; i < n; ++i) {
        if (qp_class[g[i]] == 0)
            luaL_addchar(b, g[i]);
        else
            qp_escape(g[i], b);
    }
    if (n > 0) add_string(b, "=\r\n");
}

unsigned unqp_push(unsigned char c, unsigned char* g, unsigned n, luaL_Buffer* b) {
    g[n++] = c;
    for (;;) {
        if (g[0] == '\r') {
            if (n < 2) return n;
            if (g[1] == '\n') {
                luaL_addchar(b, '\r');
                luaL_addchar(b, '\n');
                return 0;
            }
            g[0] = g[1];  // a lone CR is dropped alone
            --n;
            continue;
        }
        if (g[0] == '=') {
            if (n < 3) return n;
            if (!(g[1] == '\r' && g[2] == '\n')) {
                if (hex_value[g[1]] != 255 && hex_value[g[2]] != 255) {
                    luaL_addchar(b, static_cast<char>(hex_value[g[1]] << 4 | hex_value[g[2]]));
                } else {
                    luaL_addchar(b, g[0]);
                    luaL_addchar(b, g[1]);
                    luaL_addchar(b, g[2]);
                }
            }
            return 0;
        }
        if (g[0] == '\t' || (g[0] >= 32 && g[0] <= 126)) luaL_addchar(b, g[0]);
        return 0;
    }
}

// The two-chunk call, by the steps.
enum codec_kind { b64_kind, unb64_kind, qp_kind, unqp_kind };

int two_chunk(lua_State* L, codec_kind kind) {
    size_t carry_size = 0, chunk_size = 0;
    const char* carry = luaL_optlstring(L, 1, nullptr, &carry_size);
    const char* line_end = kind == qp_kind ? luaL_optstring(L, 3, "\r\n") : nullptr;
    if (carry == nullptr) {
        lua_pushnil(L);
        lua_pushnil(L);
        return 2;
    }
    lua_settop(L, kind == qp_kind ? 3 : 2);
    unsigned char g[4];
    unsigned n = 0;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    const char* chunk = nullptr;
    for (int part = 0; part < 2; ++part) {
        const char* p = part == 0 ? carry : (chunk = luaL_optlstring(L, 2, nullptr, &chunk_size));
        size_t size = part == 0 ? carry_size : chunk_size;
        if (p == nullptr) break;
        for (size_t i = 0; i < size; ++i) {
            unsigned char c = static_cast<unsigned char>(p[i]);
            switch (kind) {
            case b64_kind: n = b64_push(c, g, n, &b); break;
            case unb64_kind: n = unb64_push(c, g, n, &b); break;
            case qp_kind: n = qp_push(c, g, n, line_end, &b); break;
            case unqp_kind: n = unqp_push(c, g, n, &b); break;
            }
        }
    }
    if (chunk == nullptr) {
        if (kind == b64_kind) b64_finish(g, n, &b);
        if (kind == qp_kind) qp_finish(g, n, &b);
        luaL_pushresult(&b);
        if (lua_objlen(L, -1) == 0) {
            lua_pop(L, 1);
            lua_pushnil(L);
        }
        lua_pushnil(L);
        return 2;
    }
    luaL_pushresult(&b);
    lua_pushlstring(L, reinterpret_cast<const char*>(g), n);
    return 2;
}

int b64(lua_State* L) { return two_chunk(L, b64_kind); }
int unb64(lua_State* L) { return two_chunk(L, unb64_kind); }
int qp(lua_State* L) { return two_chunk(L, qp_kind); }
int unqp(lua_State* L) { return two_chunk(L, unqp_kind); }

// --- The line filters ---
int wrap(lua_State* L, bool quoted) {
    int room = static_cast<int>(luaL_checknumber(L, 1));
    size_t size = 0;
    const char* p = luaL_optlstring(L, 2, nullptr, &size);
    int length = static_cast<int>(luaL_optnumber(L, 3, 76));
    const char* soft = quoted ? "=\r\n" : "\r\n";
    if (p == nullptr) {
        if (room < length)
            lua_pushstring(L, soft);
        else
            lua_pushnil(L);
        lua_pushnumber(L, length);
        return 2;
    }
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '\n') {
            add_string(&b, "\r\n");
            room = length;
        } else if (c == '\r') {
        } else {
            int threshold = !quoted ? 0 : c == '=' ? 3 : 1;
            if (room <= threshold) {
                add_string(&b, soft);
                room = length;
            }
            luaL_addchar(&b, c);
            --room;
        }
    }
    luaL_pushresult(&b);
    lua_pushnumber(L, room);
    return 2;
}

int wrp(lua_State* L) { return wrap(L, false); }
int qpwrp(lua_State* L) { return wrap(L, true); }

int eol(lua_State* L) {
    int last = static_cast<int>(luaL_checkinteger(L, 1));
    size_t size = 0;
    const char* p = luaL_optlstring(L, 2, nullptr, &size);
    const char* line_end = luaL_optstring(L, 3, "\r\n");
    if (p == nullptr) {
        lua_pushnil(L);
        lua_pushnumber(L, 0);
        return 2;
    }
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (size_t i = 0; i < size; ++i) {
        int c = static_cast<unsigned char>(p[i]);
        bool candidate = c == '\r' || c == '\n';
        if (!candidate) {
            luaL_addchar(&b, static_cast<char>(c));
            last = 0;
        } else if (last != '\r' && last != '\n') {
            add_string(&b, line_end);
            last = c;
        } else if (last == c) {
            add_string(&b, line_end);
            last = 0;
        } else {
            last = 0;
        }
    }
    luaL_pushresult(&b);
    lua_pushnumber(L, last);
    return 2;
}

int dot(lua_State* L) {
    unsigned state = static_cast<unsigned>(luaL_checknumber(L, 1));
    size_t size = 0;
    const char* p = luaL_optlstring(L, 2, nullptr, &size);
    if (p == nullptr) {
        lua_pushnil(L);
        lua_pushnumber(L, 2);
        return 2;
    }
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (size_t i = 0; i < size; ++i) {
        char c = p[i];
        luaL_addchar(&b, c);
        if (c == '\r') {
            state = 1;
        } else if (c == '\n') {
            state = state == 1 ? 2 : 0;
        } else if (c == '.') {
            if (state == 2) luaL_addchar(&b, '.');
            state = 0;
        } else {
            state = 0;
        }
    }
    luaL_pushresult(&b);
    lua_pushnumber(L, state);
    return 2;
}

const luaL_Reg functions[] = {
    {"dot", dot}, {"b64", b64}, {"eol", eol}, {"qp", qp}, {"qpwrp", qpwrp},
    {"unb64", unb64}, {"unqp", unqp}, {"wrp", wrp}, {nullptr, nullptr},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int luaopen_mime_baseline_core(lua_State* L) {
    fill_tables();
    lua_newtable(L);
    for (const luaL_Reg* f = functions; f->name != nullptr; ++f) {
        lua_pushcfunction(L, f->func);
        lua_setfield(L, -2, f->name);
    }
    return 1;
}
