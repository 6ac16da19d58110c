#include "codec/unqp.hpp"

#include <cstring>

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "kernels/kernels.hpp"

namespace mime {
namespace {

// Tab and the printable bytes but "=" stand for themselves.
constexpr bool is_plain(unsigned c) { return c == '\t' || (c >= 32 && c <= 126 && c != '='); }

// Nonzero for the bytes that end a run of plain text: "=", CR and the dropped ones.
struct stop_table {
    unsigned char value[256];
};

constexpr stop_table make_stops() {
    stop_table stops{};
    for (unsigned c = 0; c < 256; ++c) stops.value[c] = is_plain(c) ? 0 : 1;
    return stops;
}
constexpr stop_table unqp_stops = make_stops();

// The two digits of an escape, looked up apart and joined by one "or": the high
// digit's value shifted, the low digit's as it is, and 0x100 for a byte that is
// no digit.
struct digit_tables {
    std::uint16_t high[256];
    std::uint16_t low[256];
};

constexpr digit_tables make_digit_tables() {
    digit_tables t{};
    for (unsigned c = 0; c < 256; ++c) {
        unsigned value = qp_hex_value[c];
        t.high[c] = static_cast<std::uint16_t>(value < 16 ? value << 4 : 0x100);
        t.low[c] = static_cast<std::uint16_t>(value < 16 ? value : 0x100);
    }
    return t;
}
constexpr digit_tables unqp_digits = make_digit_tables();

// The decision on the byte at s[0], with `available` bytes at hand from s: writes
// what it gives and returns how many bytes that took, or 0 when it needs more
// look-ahead ("=" two more bytes, CR one).
inline std::size_t unqp_decide(const unsigned char* s, std::size_t available, unsigned char*& out) {
    unsigned char first = s[0];
    if (first == '=') {
        if (available < 3) return 0;
        out = unqp_equals(s, out);
        return 3;
    }
    if (first == cr) {
        if (available < 2) return 0;
        if (s[1] != lf) return 1;  // dropping the byte after a lone CR would lose data: the CR alone
        out[0] = cr;
        out[1] = lf;
        out += 2;
        return 2;
    }
    if (is_plain(first)) *out++ = first;
    return 1;
}

}  // namespace

unsigned unqp_push_char(unsigned char byte, unsigned char* group, unsigned count,
                        unsigned char*& out) {
    group[count++] = byte;
    while (count > 0) {
        std::size_t taken = unqp_decide(group, count, out);
        if (taken == 0) return count;
        count -= static_cast<unsigned>(taken);
        std::memmove(group, group + taken, count);
    }
    return 0;
}

unsigned char* unqp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                         unsigned char* out) {
    const unsigned char* end = in + size;
    while (state.count != 0 && in < end) state.count = unqp_push_char(*in++, state.group, state.count, out);
    if (in < end) {
        if (auto decode = kernels().unqp) in += run_kernel(decode, in, static_cast<std::size_t>(end - in), out);
    }
    // Eight bytes at a time while the look-ahead of "=" is there: the plain
    // bytes before the first other one are copied, that one decided, escapes
    // at once (a tab is written and counted in, a dropped byte written and not).
    while (end - in >= 10) {
        std::uint64_t word = load_word(in);
        std::memcpy(out, &word, 8);
        std::uint64_t stops = word_stops(word);
        if (stops == 0) {
            in += 8;
            out += 8;
            continue;
        }
        std::size_t run = first_marked(stops);
        in += run;
        out += run;
        unsigned char c = *in;
        if (c == '=') {
            // A run of escapes (most of a non-Latin script) is decoded at once.
            do {
                unsigned byte = unqp_digits.high[in[1]] | unqp_digits.low[in[2]];
                if (__builtin_expect(byte > 0xff, 0)) {
                    in += unqp_decide(in, 3, out);
                    break;
                }
                *out++ = static_cast<unsigned char>(byte);
                in += 3;
            } while (end - in >= 3 && *in == '=');
            continue;
        }
        if (c == cr) {
            in += unqp_decide(in, 3, out);
            continue;
        }
        *out = c;
        out += unqp_stops.value[c] ^ 1;
        ++in;
    }
    while (in < end) {
        copy_run(in, find_stop(in, end, unqp_stops.value), out);
        if (in == end) break;
        std::size_t taken = unqp_decide(in, static_cast<std::size_t>(end - in), out);
        if (taken == 0) break;
        in += taken;
    }
    while (in < end) state.count = unqp_push_char(*in++, state.group, state.count, out);
    return out;
}

std::size_t unqp_bound(const codec_state& state, std::size_t size) {
    return size_bound(size, 1, state.count + kernel_overrun);
}

}  // namespace mime
