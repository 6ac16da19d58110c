// Quoted-printable decoder: escapes become bytes (lower-case hex accepted), soft
// line breaks vanish, CR LF stays, malformed escapes are copied unchanged and bytes
// that cannot stand in quoted-printable text are dropped. A CR not followed by LF
// is dropped on its own; the byte after it is decoded as usual.
#pragma once

#include "base/shapes.hpp"

namespace mime {

// Adds one byte to the pending group and decodes what can be decoded. Returns the
// new count.
unsigned unqp_push_char(unsigned char byte, unsigned char* group, unsigned count,
                        unsigned char*& out);
unsigned char* unqp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                         unsigned char* out);
std::size_t unqp_bound(const codec_state& state, std::size_t size);

inline constexpr codec unqp_codec{unqp_bound, unqp_bulk, nullptr};

}  // namespace mime
