// Finding the end of a run of bytes that need no decision, and copying the run.
// Eight bytes are tested at a time; the exact position is then found within the
// word. For the portable code of the cores (the kernels scan a block at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mime {

inline constexpr std::uint64_t ones = 0x0101010101010101ull;
inline constexpr std::uint64_t highs = 0x8080808080808080ull;

// Nonzero when some byte of `word` equals `value`.
inline std::uint64_t word_has(std::uint64_t word, unsigned char value) {
    std::uint64_t x = word ^ (ones * value);
    return (x - ones) & ~x & highs;
}

// The bytes of `word` equal to `value`, exactly: 0x80 in each, 0 elsewhere.
inline std::uint64_t word_equal(std::uint64_t word, unsigned char value) {
    constexpr std::uint64_t lows = ~highs;
    std::uint64_t x = word ^ (ones * value);
    return ~(((x & lows) + lows) | x | lows);
}

// True when every byte of `word` is printable ASCII (32 to 126) but "=".
inline bool word_plain(std::uint64_t word) {
    std::uint64_t in_range = ~word & (word + ones * 0x60) & ~(word + ones);
    return (in_range & ~word_equal(word, '=') & highs) == highs;
}

// The bytes of `word` that are not printable ASCII (32 to 126) or are "=",
// exactly: 0x80 in each, 0 elsewhere.
inline std::uint64_t word_stops(std::uint64_t word) {
    constexpr std::uint64_t lows = ~highs;
    std::uint64_t low7 = word & lows;  // no carry leaves a byte below
    std::uint64_t printable = (low7 + ones * 0x60) & ~(low7 + ones) & ~word;
    return ~(printable & ~word_equal(word, '=')) & highs;
}

inline std::uint64_t load_word(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The place in its word of the first byte marked (0x80) in `marks`, nonzero:
// the word as load_word read it.
inline std::size_t first_marked(std::uint64_t marks) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<std::size_t>(__builtin_clzll(marks)) >> 3;
#else
    return static_cast<std::size_t>(__builtin_ctzll(marks)) >> 3;
#endif
}

// The CR and LF bytes of `word`, exactly, as word_equal marks them. A byte is CR
// (0x0D) or LF (0x0A) only if it reads 0x0F with its low three bits set: that
// one test passes over most words of text, and the exact one runs only where it
// fails (a tab, say).
inline std::uint64_t word_line_breaks(std::uint64_t word) {
    if (!word_has(word | ones * 7, 0x0f)) return 0;
    return word_equal(word, '\r') | word_equal(word, '\n');
}

// Copies the bytes from `in` up to the next CR or LF (or `end`); both move past
// them. Each word is stored whole as it is read, so the caller keeps 8 bytes of
// room past the copy (what it writes next goes over the surplus).
inline void copy_to_line_break(const unsigned char*& in, const unsigned char* end, unsigned char*& out) {
    while (end - in >= 8) {
        std::uint64_t word = load_word(in);
        std::memcpy(out, &word, 8);
        if (std::uint64_t marks = word_line_breaks(word)) {
            std::size_t k = first_marked(marks);
            in += k;
            out += k;
            return;
        }
        in += 8;
        out += 8;
    }
    while (in < end && *in != '\r' && *in != '\n') *out++ = *in++;
}

// First byte in [p, end) whose entry in `stops` is nonzero, or end.
inline const unsigned char* find_stop(const unsigned char* p, const unsigned char* end,
                                      const unsigned char* stops) {
    while (end - p >= 4) {
        if (stops[p[0]]) return p;
        if (stops[p[1]]) return p + 1;
        if (stops[p[2]]) return p + 2;
        if (stops[p[3]]) return p + 3;
        p += 4;
    }
    while (p < end && !stops[*p]) ++p;
    return p;
}

// Copies the run from `in` up to `stop` unchanged; both move past it.
inline void copy_run(const unsigned char*& in, const unsigned char* stop, unsigned char*& out) {
    std::size_t size = static_cast<std::size_t>(stop - in);
    std::memcpy(out, in, size);
    out += size;
    in = stop;
}

}  // namespace mime
