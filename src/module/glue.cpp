#include "module/glue.hpp"

#include <cstring>

#include "module/output.hpp"

namespace mime {
namespace {

// Input bytes handed to a core per reservation: large enough that the call per
// slice costs nothing, small enough that a loose bound reserves little.
constexpr std::size_t slice_size = 32 * 1024;
// A long line end makes the bound per input byte large; slices shrink to keep
// each reservation near this size.
constexpr std::size_t reservation_goal = 1024 * 1024;
constexpr std::size_t smallest_slice = 512;

// What an absent line length or line end reads as.
constexpr lua_Number default_line_length = 76;
constexpr char default_line_end[] = "\r\n";

// The result is about to outgrow its room: room at once for the rest of the
// input at the rate so far and a little more, so that a result much larger than
// its input (quoted-printable of a non-Latin script, about three times) moves
// once rather than at every doubling. The new block is at most three times the
// old, whatever the rate promises (the rest of the input may give less); near
// the interpreter's limit, the usual growth.
template <class Core, class State>
void reserve_rest(output& o, const Core& core, const State& state, std::size_t made, std::size_t done,
                  std::size_t rest, std::size_t room) {
    double ahead = static_cast<double>(made) / static_cast<double>(done) * static_cast<double>(rest) * 1.0625 +
                   static_cast<double>(room);
    double most = static_cast<double>(core.bound(state, rest));
    double size = static_cast<double>(output_size(o)), capacity = size + static_cast<double>(output_available(o));
    if (most > 3 * capacity - size) most = 3 * capacity - size;
    if (ahead > most) ahead = most;
    if (ahead + size >= static_cast<double>(largest_userdata()) / 2) return;
    output_reserve(o, static_cast<std::size_t>(ahead));
}

template <class Core, class State>
void run(output& o, const Core& core, State& state, const unsigned char* in, std::size_t size) {
    const std::size_t start = output_size(o);
    std::size_t done = 0;
    while (size > 0) {
        std::size_t n = size < slice_size ? size : slice_size;
        std::size_t room = core.bound(state, n);
        // Shrink a slice whose loose bound would overflow the space at hand, so that
        // a result that fits the first block never moves to a larger one.
        while (n > 1 && (room > reservation_goal || (n > smallest_slice && room > output_available(o)))) {
            n /= 2;
            room = core.bound(state, n);
        }
        if (room > output_available(o) && done != 0)
            reserve_rest(o, core, state, output_size(o) - start, done, size, room);
        unsigned char* out = output_reserve(o, room);
        output_commit(o, core.bulk(state, in, n, out));
        in += n;
        size -= n;
        done += n;
    }
}

// Before a large input, room for its whole result in one allocation, so that the
// output is not moved again and again as it grows. A tight bound (Base64, the
// decoders) is reserved as it is; the text filters, whose bounds allow for the
// worst case, get room for a result a little larger than the input, and a larger
// result grows geometrically from there.
template <class Core, class State>
void reserve_ahead(output& o, const Core& core, const State& state, std::size_t size) {
    if (size <= slice_size / 8) return;  // the first block takes it
    std::size_t bound = core.bound(state, size);
    constexpr std::size_t margin = 4096;  // slices' rounding, the finish
    std::size_t room = bound / 3 <= size / 2 ? bound : size + size / 8;
    if (room > SIZE_MAX - margin) return;
    output_reserve(o, room + margin);
}

const unsigned char* optional_bytes(lua_State* L, int index, std::size_t* size) {
    return reinterpret_cast<const unsigned char*>(luaL_optlstring(L, index, nullptr, size));
}

// The caller's line end, default CR LF, taken up to its first zero byte.
byte_span read_line_end(lua_State* L, int index) {
    std::size_t size = 0;
    const char* text = luaL_optlstring(L, index, default_line_end, &size);
    const void* zero = std::memchr(text, 0, size);
    if (zero != nullptr) size = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
    return {reinterpret_cast<const unsigned char*>(text), size};
}

// A Lua number as a 32-bit count: truncated toward zero, clamped to the 32-bit
// range, NaN as 0.
std::int32_t clamp_int32(lua_Number n) {
    if (n != n) return 0;
    if (n >= 2147483647.0) return INT32_MAX;
    if (n <= -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(n);
}

std::int64_t read_state(lua_State* L, state_reading reading) {
    switch (reading) {
    case state_reading::int32_clamped:
        return clamp_int32(luaL_checknumber(L, 1));
    case state_reading::int64_clamped:
        return check_int64(L, 1);
    case state_reading::uint32_or_zero:
    default: {
        lua_Number n = luaL_checknumber(L, 1);
        // Negative, NaN and 2^32 or more have no meaning here: they read as 0.
        if (!(n >= 0) || n >= 4294967296.0) return 0;
        return static_cast<std::int64_t>(static_cast<std::uint32_t>(n));
    }
    }
}

}  // namespace

int two_chunk_call(lua_State* L, const codec& core, line_end_argument line_end) {
    codec_state state{};
    std::size_t carry_size = 0;
    const unsigned char* carry = optional_bytes(L, 1, &carry_size);
    bool takes_line_end = line_end == line_end_argument::third;
    if (takes_line_end) state.line_end = read_line_end(L, 3);
    if (carry == nullptr) {
        lua_pushnil(L);
        lua_pushnil(L);
        return 2;
    }
    // Missing arguments read as nil, surplus ones are dropped; the line end stays
    // anchored at index 3 while the call runs.
    lua_settop(L, takes_line_end ? 3 : 2);
    std::size_t chunk_size = 0;
    const unsigned char* chunk = optional_bytes(L, 2, &chunk_size);

    output o;
    output_start(o, L);
    if (carry_size <= SIZE_MAX - chunk_size) reserve_ahead(o, core, state, carry_size + chunk_size);
    run(o, core, state, carry, carry_size);
    if (chunk == nullptr) {
        if (core.finish != nullptr) output_commit(o, core.finish(state, output_reserve(o, finish_bound)));
        bool empty = output_size(o) == 0;
        output_push(o);
        if (empty) {
            lua_pop(L, 1);
            lua_pushnil(L);
        }
        lua_pushnil(L);
        return 2;
    }
    run(o, core, state, chunk, chunk_size);
    output_push(o);
    lua_pushlstring(L, reinterpret_cast<const char*>(state.group), state.count);
    return 2;
}

int state_number_call(lua_State* L, const line_filter& core, state_reading reading, parameter third) {
    filter_state state{};
    state.state = read_state(L, reading);
    std::size_t chunk_size = 0;
    const unsigned char* chunk = optional_bytes(L, 2, &chunk_size);
    if (third == parameter::line_length)
        state.line_length = clamp_int32(luaL_optnumber(L, 3, default_line_length));
    else if (third == parameter::line_end)
        state.line_end = read_line_end(L, 3);

    if (chunk == nullptr) {
        const char* answer = core.end_of_stream(state);
        if (answer != nullptr)
            lua_pushstring(L, answer);
        else
            lua_pushnil(L);
    } else if (core.unchanged != nullptr && core.unchanged(state, chunk, chunk_size)) {
        lua_pushvalue(L, 2);  // the chunk, a string now
    } else {
        output o;
        output_start(o, L);
        reserve_ahead(o, core, state, chunk_size);
        run(o, core, state, chunk, chunk_size);
        output_push(o);
    }
    lua_pushinteger(L, static_cast<lua_Integer>(state.state));
    return 2;
}

}  // namespace mime
