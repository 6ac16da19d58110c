// The two call shapes, written once each. A filter plugs its core into one of them.
#pragma once

#include "module/lua_compat.hpp"
#include "module/stream.hpp"

namespace mime {

// carry, chunk[, line_end] -> output, remainder
int two_chunk_call(lua_State* L, const codec& core);

// state, chunk[, line_length or line_end] -> output, new state
int state_number_call(lua_State* L, const line_filter& core);

// A Lua number as a 32-bit count: truncated toward zero, clamped to the 32-bit
// range, NaN as 0.
std::int32_t clamp_int32(lua_Number n);

}  // namespace mime
