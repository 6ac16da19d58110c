// End-of-line normaliser: CR, LF, CR LF and LF CR each become one line end of the
// caller's choice. `last_break` remembers a CR or LF already turned into a line
// end, so that a pair split across chunks still gives one. Its step,
// eol_push_char, is in base/decisions.hpp.
#pragma once

#include "base/shapes.hpp"

namespace mime {

unsigned char* eol_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t eol_bound(const filter_state& state, std::size_t size);
const char* eol_end_of_stream(filter_state& state);
bool eol_unchanged(filter_state& state, const unsigned char* in, std::size_t size);

inline constexpr line_filter eol_filter{eol_end_of_stream, eol_bound, eol_bulk, eol_unchanged};

}  // namespace mime
