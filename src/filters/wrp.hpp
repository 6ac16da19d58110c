// Line wrapper: breaks text into lines of at most `line_length` characters with
// CR LF. A break is written only before a byte that no longer fits; LF gives a
// break and CR is dropped. Its step, wrp_step, is in base/decisions.hpp.
#pragma once

#include "base/shapes.hpp"

namespace mime {

unsigned char* wrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t wrp_bound(const filter_state& state, std::size_t size);
const char* wrp_end_of_stream(filter_state& state);

inline constexpr line_filter wrp_filter{wrp_end_of_stream, wrp_bound, wrp_bulk, nullptr};

}  // namespace mime
