#include "codec/unqp.hpp"

#include <array>
#include <cstring>

#include "kernels/kernels.hpp"
#include "module/scan.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

constexpr bool is_plain(unsigned c) { return c == '\t' || (c >= 32 && c <= 126 && c != '='); }

// Nonzero for the bytes that end a run of plain text: "=", CR and the dropped ones.
constexpr std::array<unsigned char, 256> make_stops() {
    std::array<unsigned char, 256> stops{};
    for (unsigned c = 0; c < 256; ++c) stops[c] = is_plain(c) ? 0 : 1;
    return stops;
}
constexpr auto unqp_stops = make_stops();

// An escape or a soft line break, all three bytes at hand.
inline unsigned char* decode_equals(const unsigned char* g, unsigned char* out) {
    if (g[1] == cr && g[2] == lf) return out;
    unsigned high = qp_hex_value[g[1]], low = qp_hex_value[g[2]];
    if (high != no_value && low != no_value) {
        *out++ = static_cast<unsigned char>(high << 4 | low);
    } else {
        out[0] = g[0];
        out[1] = g[1];
        out[2] = g[2];
        out += 3;
    }
    return out;
}

}  // namespace

unsigned unqp_push_char(unsigned char byte, unsigned char* group, unsigned count,
                        unsigned char*& out) {
    group[count++] = byte;
    for (;;) {
        unsigned char first = group[0];
        if (first == cr) {
            if (count < 2) return count;
            if (group[1] == lf) {
                out[0] = cr;
                out[1] = lf;
                out += 2;
                return 0;
            }
            // Dropping the byte after a lone CR would lose data: drop the CR alone.
            group[0] = group[1];
            group[1] = group[2];
            --count;
            continue;
        }
        if (first == '=') {
            if (count < 3) return count;
            out = decode_equals(group, out);
            return 0;
        }
        if (is_plain(first)) *out++ = first;
        return 0;
    }
}

unsigned char* unqp_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                         unsigned char* out) {
    const unsigned char* end = in + size;
    while (state.count != 0 && in < end) state.count = unqp_push_char(*in++, state.group, state.count, out);
    if (in < end) {
        if (auto decode = kernels().unqp_decode) in += decode(in, static_cast<std::size_t>(end - in), out);
    }
    while (in < end) {
        const unsigned char* stop = find_stop(in, end, unqp_stops.data());
        std::memcpy(out, in, stop - in);
        out += stop - in;
        in = stop;
        if (in == end) break;
        if (*in == '=') {
            if (end - in < 3) break;
            out = decode_equals(in, out);
            in += 3;
        } else if (*in == cr) {
            if (end - in < 2) break;
            if (in[1] == lf) {
                out[0] = cr;
                out[1] = lf;
                out += 2;
                in += 2;
            } else {
                in += 1;
            }
        } else {
            in += 1;
        }
    }
    while (in < end) state.count = unqp_push_char(*in++, state.group, state.count, out);
    return out;
}

std::size_t unqp_bound(const codec_state& state, std::size_t size) {
    return size_bound(size, 1, state.count + kernel_overrun);
}

}  // namespace mime
