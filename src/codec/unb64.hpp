// Base64 decoder: lenient, it skips every byte outside the alphabet wherever it
// stands, so wrapped text needs no preparation; an unfinished quartet is dropped
// at the end of the stream.
#pragma once

#include "base/shapes.hpp"

namespace mime {

// Adds one character to the pending quartet; a full quartet is decoded. Returns
// the new count.
unsigned unb64_push_char(unsigned char byte, unsigned char* quartet, unsigned count,
                         unsigned char*& out);
unsigned char* unb64_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                          unsigned char* out);
std::size_t unb64_bound(const codec_state& state, std::size_t size);

inline constexpr codec unb64_codec{unb64_bound, unb64_bulk, nullptr};

}  // namespace mime
