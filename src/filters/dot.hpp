// Dot-stuffing of SMTP message data: a "." that begins a line (after CR LF, or at
// the start of the data) gets a second "." in front of it.
#pragma once

#include "module/stream.hpp"

namespace mime {

// What `line_state` records.
enum : std::int64_t {
    inside_line = 0,
    after_cr = 1,
    line_start = 2,  // after CR LF, or at the start of the data
};

// Returns the new line_state.
std::int64_t dot_step(unsigned char byte, std::int64_t line_state, unsigned char*& out);
unsigned char* dot_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t dot_bound(const filter_state& state, std::size_t size);
const char* dot_end_of_stream(filter_state& state);

inline constexpr line_filter dot_filter{state_reading::uint32_or_zero, parameter::none,
                                        dot_end_of_stream, dot_bound, dot_bulk};

}  // namespace mime
