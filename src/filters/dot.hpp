// Dot-stuffing of SMTP message data: a "." that begins a line (after CR LF, or at
// the start of the data) gets a second "." in front of it. Its step, dot_step,
// and the values of `line_state` are in base/decisions.hpp.
#pragma once

#include "base/shapes.hpp"

namespace mime {

unsigned char* dot_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t dot_bound(const filter_state& state, std::size_t size);
const char* dot_end_of_stream(filter_state& state);

inline constexpr line_filter dot_filter{dot_end_of_stream, dot_bound, dot_bulk, nullptr};

}  // namespace mime
