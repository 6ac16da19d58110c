// The two call shapes, written once each, with the Lua-only rules of reading the
// arguments. A filter plugs its core into one of them (core.cpp).
#pragma once

#include "base/shapes.hpp"
#include "module/lua_compat.hpp"

namespace mime {

// Whether a codec takes the caller's line end as its third argument (qp).
enum class line_end_argument : unsigned char { none, third };

// How a line filter reads its state from a Lua number.
enum class state_reading : unsigned char {
    int32_clamped,   // truncated toward zero, clamped to the 32-bit range, NaN as 0
    int64_clamped,   // truncated toward zero, clamped to the 64-bit range, NaN as 0
    uint32_or_zero,  // truncated toward zero; negative, NaN or 2^32 and above as 0
};

// A line filter's optional third argument.
enum class parameter : unsigned char { none, line_length, line_end };

// carry, chunk[, line_end] -> output, remainder
int two_chunk_call(lua_State* L, const codec& core, line_end_argument line_end);

// state, chunk[, line_length or line_end] -> output, new state
int state_number_call(lua_State* L, const line_filter& core, state_reading reading, parameter third);

}  // namespace mime
