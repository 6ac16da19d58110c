#include "codec/qp.hpp"

#include <cstring>

#include "kernels/kernels.hpp"
#include "module/scan.hpp"
#include "module/tables.hpp"

namespace mime {

unsigned char* qp_escape(unsigned char byte, unsigned char* out) {
    out[0] = '=';
    out[1] = qp_hex_digits[byte >> 4];
    out[2] = qp_hex_digits[byte & 15];
    return out + 3;
}

unsigned qp_push_byte(unsigned char byte, unsigned char* group, unsigned count,
                      byte_span line_end, unsigned char*& out) {
    group[count++] = byte;
    while (count > 0) {
        unsigned char first = group[0];
        switch (qp_char_class[first]) {
        case escaped:
            out = qp_escape(first, out);
            break;
        case carriage_return:
            if (count < 2) return count;
            if (group[1] == lf) {
                out = put(out, line_end);
                return 0;
            }
            out = qp_escape(first, out);
            break;
        case whitespace:
            if (count < 3) return count;
            if (group[1] == cr && group[2] == lf) {
                out = put(qp_escape(first, out), line_end);
                return 0;
            }
            *out++ = first;
            break;
        default:
            *out++ = first;
            break;
        }
        group[0] = group[1];
        group[1] = group[2];
        --count;
    }
    return 0;
}

unsigned char* qp_finish(codec_state& state, unsigned char* out) {
    for (unsigned i = 0; i < state.count; ++i) {
        unsigned char byte = state.group[i];
        if (qp_char_class[byte] == literal)
            *out++ = byte;
        else
            out = qp_escape(byte, out);
    }
    if (state.count != 0) {
        std::memcpy(out, "=\r\n", 3);
        out += 3;
    }
    state.count = 0;
    return out;
}

unsigned char* qp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                       unsigned char* out) {
    const unsigned char* end = in + size;
    while (state.count != 0 && in < end)
        state.count = qp_push_byte(*in++, state.group, state.count, state.line_end, out);
    // With the window empty, each byte is decided straight from the input as long as
    // its look-ahead is there; the rest goes into the window.
    if (in < end) {
        if (auto encode = kernels().qp_encode)
            in += encode(in, static_cast<std::size_t>(end - in), out, state.line_end.data, state.line_end.size);
    }
    while (in < end) {
        const unsigned char* stop = find_stop(in, end, qp_char_class.data());
        std::memcpy(out, in, stop - in);
        out += stop - in;
        in = stop;
        if (in == end) break;
        unsigned char byte = *in;
        switch (qp_char_class[byte]) {
        case carriage_return:
            if (end - in < 2) goto window;
            if (in[1] == lf) {
                out = put(out, state.line_end);
                in += 2;
            } else {
                out = qp_escape(byte, out);
                in += 1;
            }
            break;
        case whitespace:
            if (end - in < 3) goto window;
            if (in[1] == cr && in[2] == lf) {
                out = put(qp_escape(byte, out), state.line_end);
                in += 3;
            } else {
                *out++ = byte;
                in += 1;
            }
            break;
        default:
            out = qp_escape(byte, out);
            in += 1;
            break;
        }
    }
window:
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
