// Line wrapper: breaks text into lines of at most `line_length` characters with
// CR LF. A break is written only before a byte that no longer fits; LF gives a
// break and CR is dropped.
#pragma once

#include "module/stream.hpp"

namespace mime {

// Places one byte; returns the new room.
std::int32_t wrp_step(unsigned char byte, std::int32_t room, std::int32_t line_length,
                      unsigned char*& out);
unsigned char* wrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t wrp_bound(const filter_state& state, std::size_t size);
const char* wrp_end_of_stream(filter_state& state);

inline constexpr line_filter wrp_filter{state_reading::int32_clamped, parameter::line_length,
                                        wrp_end_of_stream, wrp_bound, wrp_bulk};

}  // namespace mime
