#include "codec/unb64.hpp"

#include <array>

#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

// Set in a pre-shifted entry for a byte the whole-quartet path cannot take: one
// outside the alphabet (skipped) or "=" (shortens the output).
constexpr std::uint32_t needs_step = 0x80000000u;

constexpr std::array<std::uint32_t, 256> make_shifted(unsigned shift) {
    std::array<std::uint32_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        bool plain = base64_value[c] != no_value && c != '=';
        table[c] = plain ? std::uint32_t{base64_value[c]} << shift : needs_step;
    }
    return table;
}
constexpr auto shifted0 = make_shifted(18);
constexpr auto shifted1 = make_shifted(12);
constexpr auto shifted2 = make_shifted(6);
constexpr auto shifted3 = make_shifted(0);

// The portable code from in to stop: whole quartets at once while none is
// pending, the step for the rest.
const unsigned char* unb64_words(codec_state& state, const unsigned char* in, const unsigned char* stop,
                                 unsigned char*& out) {
    for (;;) {
        if (state.count == 0) {
            while (stop - in >= 4) {
                std::uint32_t v = shifted0[in[0]] | shifted1[in[1]] | shifted2[in[2]] | shifted3[in[3]];
                if (v & needs_step) break;
                out[0] = static_cast<unsigned char>(v >> 16);
                out[1] = static_cast<unsigned char>(v >> 8);
                out[2] = static_cast<unsigned char>(v);
                in += 4;
                out += 3;
            }
        }
        if (in == stop) return in;
        state.count = unb64_push_char(*in++, state.group, state.count, out);
    }
}

}  // namespace

unsigned unb64_push_char(unsigned char byte, unsigned char* quartet, unsigned count,
                         unsigned char*& out) {
    if (base64_value[byte] == no_value) return count;
    quartet[count++] = byte;
    if (count < 4) return count;
    std::uint32_t v = std::uint32_t{base64_value[quartet[0]]} << 18 |
                      std::uint32_t{base64_value[quartet[1]]} << 12 |
                      std::uint32_t{base64_value[quartet[2]]} << 6 | base64_value[quartet[3]];
    out[0] = static_cast<unsigned char>(v >> 16);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v);
    out += quartet[2] == '=' ? 1 : quartet[3] == '=' ? 2 : 3;
    return 0;
}

unsigned char* unb64_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                          unsigned char* out) {
    const unsigned char* end = in + size;
    auto decode = kernels().unb64;
    if (decode == nullptr) {
        unb64_words(state, in, end, out);
        return out;
    }
    while (in < end) {
        in += run_kernel(decode, in, static_cast<std::size_t>(end - in), out, state.group, state.count);
        // The kernel stops before a block holding "=", or near the end: one
        // block's worth goes through the portable code.
        in = unb64_words(state, in, end - in > 32 ? in + 32 : end, out);
    }
    return out;
}

std::size_t unb64_bound(const codec_state& state, std::size_t size) {
    return size_bound(size / 4 + 1, 3, state.count + kernel_overrun);
}

}  // namespace mime
