// Quoted-printable line wrapper: inserts soft line breaks "=\r\n" so that no line
// is longer than `line_length`, never inside an escape, even across chunks. LF
// gives a hard break; CR is dropped. Its step, qpwrp_step, is in base/decisions.hpp.
#pragma once

#include "base/shapes.hpp"

namespace mime {

unsigned char* qpwrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                          unsigned char* out);
std::size_t qpwrp_bound(const filter_state& state, std::size_t size);
const char* qpwrp_end_of_stream(filter_state& state);

inline constexpr line_filter qpwrp_filter{qpwrp_end_of_stream, qpwrp_bound, qpwrp_bulk, nullptr};

}  // namespace mime
