// Base64 encoder: every complete 3-byte group becomes four alphabet characters;
// the end of the stream pads the last group with "=".
#pragma once

#include "base/shapes.hpp"

namespace mime {

// Adds one byte to the pending group; a full group is written. Returns the new count.
unsigned b64_push_byte(unsigned char byte, unsigned char* group, unsigned count,
                       unsigned char*& out);
unsigned char* b64_finish(codec_state& state, unsigned char* out);
unsigned char* b64_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out);
std::size_t b64_bound(const codec_state& state, std::size_t size);

inline constexpr codec b64_codec{b64_bound, b64_bulk, b64_finish};

}  // namespace mime
