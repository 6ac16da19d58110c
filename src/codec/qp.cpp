#include "codec/qp.hpp"

#include <cstring>

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "base/write.hpp"
#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

// What each byte gives when no look-ahead is needed, as one 32-bit store: the
// bytes it writes in the low three, how many in bits 24 to 27; bit 28 marks a
// space or tab (itself unless CR follows), and a CR has length 0 (always decided).
struct code_table {
    std::uint32_t value[256];
};

constexpr code_table make_codes() {
    code_table codes{};
    for (unsigned c = 0; c < 256; ++c) {
        std::uint32_t escape = '=' | std::uint32_t(qp_hex_digits[c >> 4]) << 8 |
                               std::uint32_t(qp_hex_digits[c & 15]) << 16 | 3u << 24;
        switch (qp_char_class[c]) {
        case literal: codes.value[c] = c | 1u << 24; break;
        case whitespace: codes.value[c] = c | 1u << 24 | 1u << 28; break;
        case carriage_return: codes.value[c] = 0; break;
        default: codes.value[c] = escape; break;
        }
    }
    return codes;
}
constexpr code_table qp_codes = make_codes();

}  // namespace

unsigned char* qp_escape(unsigned char byte, unsigned char* out) { return put_escape(out, byte); }

unsigned qp_push_byte(unsigned char byte, unsigned char* group, unsigned count,
                      byte_span line_end, unsigned char*& out) {
    group[count++] = byte;
    while (count > 0) {
        std::size_t taken = qp_decide(group, count, line_end, out);
        if (taken == 0) return count;
        count -= static_cast<unsigned>(taken);
        std::memmove(group, group + taken, count);
    }
    return 0;
}

unsigned char* qp_finish(codec_state& state, unsigned char* out) {
    for (unsigned i = 0; i < state.count; ++i) {
        unsigned char byte = state.group[i];
        if (qp_char_class[byte] == literal)
            *out++ = byte;
        else
            out = put_escape(out, byte);
    }
    if (state.count != 0) out = put_soft_break(out);
    state.count = 0;
    return out;
}

unsigned char* qp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                       unsigned char* out) {
    const unsigned char* end = in + size;
    while (state.count != 0 && in < end)
        state.count = qp_push_byte(*in++, state.group, state.count, state.line_end, out);
    if (in < end) {
        if (auto encode = kernels().qp)
            in += run_kernel(encode, in, static_cast<std::size_t>(end - in), out, state.line_end);
    }
    // With the window empty, each byte is decided straight from the input as long as
    // its look-ahead is there, by its code where it needs none; the rest goes into
    // the window.
    const unsigned char* bytewise = in;  // after a word that was not plain, eight bytes one by one
    while (end - in >= 3) {
        // Eight printable bytes, no CR after them: themselves (the look-ahead of a
        // space or tab at the end is there).
        if (in >= bytewise && end - in >= 10) {
            std::uint64_t word = load_word(in);
            if (word_plain(word) && in[8] != cr) {
                std::memcpy(out, &word, 8);
                in += 8;
                out += 8;
                continue;
            }
            bytewise = in + 8;
        }
        std::uint32_t code = qp_codes.value[*in];
        if (__builtin_expect((code >> 24) == 0 || ((code >> 28) != 0 && in[1] == cr), 0)) {
            in += qp_decide(in, 3, state.line_end, out);
            continue;
        }
        std::memcpy(out, &code, 4);
        out += (code >> 24) & 15u;
        ++in;
    }
    while (in < end) {
        copy_run(in, find_stop(in, end, qp_char_class), out);  // the literal bytes
        if (in == end) break;
        std::size_t taken = qp_decide(in, static_cast<std::size_t>(end - in), state.line_end, out);
        if (taken == 0) break;
        in += taken;
    }
    while (in < end) state.count = qp_push_byte(*in++, state.group, state.count, state.line_end, out);
    return out;
}

std::size_t qp_bound(const codec_state& state, std::size_t size) {
    // Worst cases per input byte: an escape (3), or a space, CR, LF giving an escape
    // and a line end; every pending byte may be decided too.
    std::size_t bytes = size + state.count;
    std::size_t breaks = bytes / 2 + 1;
    std::size_t line_ends = size_bound(breaks, state.line_end.size, 0);
    std::size_t escapes = size_bound(bytes, 3, 0);
    return line_ends > SIZE_MAX - escapes - kernel_overrun ? SIZE_MAX : line_ends + escapes + kernel_overrun;
}

}  // namespace mime
