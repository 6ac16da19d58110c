// The two shapes a filter can take, with nothing of Lua in them, so that tests and
// fuzzers drive the cores directly. The Lua glue (module/glue.hpp) plugs each shape
// into Lua and reads the arguments.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mime {

inline constexpr unsigned char cr = '\r';
inline constexpr unsigned char lf = '\n';

// Bytes owned by someone else: the caller's line end, for instance.
struct byte_span {
    const unsigned char* data;
    std::size_t size;
};

// a * b + c, or SIZE_MAX when that does not fit: reservations are checked, never wrapped.
inline std::size_t size_bound(std::size_t a, std::size_t b, std::size_t c) {
    if (b != 0 && a > (SIZE_MAX - c) / b) return SIZE_MAX;
    return a * b + c;
}

// Two-chunk call: the carry-over is a string of unfinished input bytes.
struct codec_state {
    unsigned char group[4];  // pending bytes, as they came
    unsigned count;          // how many of them
    byte_span line_end;      // what a CR LF becomes (quoted-printable encoder)
};

struct codec {
    // Most bytes `bulk` may write for `size` more input bytes.
    std::size_t (*bound)(const codec_state& state, std::size_t size);
    // Runs `size` bytes through the step, as the step would one at a time, and
    // returns the end of what it wrote.
    unsigned char* (*bulk)(codec_state& state, const unsigned char* in, std::size_t size,
                           unsigned char* out);
    // End of stream for an encoder (flushes the pending group); null for a decoder,
    // which discards it.
    unsigned char* (*finish)(codec_state& state, unsigned char* out);
};

// Most bytes any finish writes: three escapes and a soft line break.
inline constexpr std::size_t finish_bound = 16;

// State-number call: the carry-over is a number.
struct filter_state {
    std::int64_t state;        // room, last_break or line_state
    std::int32_t line_length;  // the wrappers
    byte_span line_end;        // the end-of-line normaliser
};

struct line_filter {
    // The answer to a nil chunk: the output, or null for nil; sets the new state.
    const char* (*end_of_stream)(filter_state& state);
    std::size_t (*bound)(const filter_state& state, std::size_t size);
    unsigned char* (*bulk)(filter_state& state, const unsigned char* in, std::size_t size,
                           unsigned char* out);
    // Optional: true when `bulk` would give the input itself (setting the state as
    // bulk would), so that the caller can hand back the input and write nothing.
    bool (*unchanged)(filter_state& state, const unsigned char* in, std::size_t size);
};

}  // namespace mime
