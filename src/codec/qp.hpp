// Quoted-printable encoder. CR LF pairs are the only line breaks and become the
// caller's line end; a space or tab just before one is escaped. A CR waits for one
// more byte and a space or tab for two, so up to two bytes may stay undecided.
#pragma once

#include "base/shapes.hpp"

namespace mime {

// Appends the escape of one byte ("=" and two upper-case hexadecimal digits).
unsigned char* qp_escape(unsigned char byte, unsigned char* out);
// Adds one byte to the look-ahead window and decides what can be decided.
// Returns the new count.
unsigned qp_push_byte(unsigned char byte, unsigned char* group, unsigned count,
                      byte_span line_end, unsigned char*& out);
unsigned char* qp_finish(codec_state& state, unsigned char* out);
unsigned char* qp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                       unsigned char* out);
std::size_t qp_bound(const codec_state& state, std::size_t size);

inline constexpr codec qp_codec{qp_bound, qp_bulk, qp_finish};

}  // namespace mime
