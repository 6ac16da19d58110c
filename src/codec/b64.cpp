#include "codec/b64.hpp"

#include <array>
#include <cstring>

#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

// The two characters of every 12-bit value: half a group per lookup.
constexpr auto make_pairs() {
    std::array<std::array<char, 2>, 4096> pairs{};
    for (unsigned v = 0; v < 4096; ++v) pairs[v] = {base64_alphabet[v >> 6], base64_alphabet[v & 63]};
    return pairs;
}
constexpr auto base64_pairs = make_pairs();

inline void put_quartet(std::uint32_t v, unsigned char* out) {
    std::memcpy(out, base64_pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, base64_pairs[v & 0xfff].data(), 2);
}

inline std::uint32_t group_value(const unsigned char* g) {
    return std::uint32_t{g[0]} << 16 | std::uint32_t{g[1]} << 8 | g[2];
}

inline std::uint64_t load_big_endian(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

}  // namespace

unsigned b64_push_byte(unsigned char byte, unsigned char* group, unsigned count,
                       unsigned char*& out) {
    group[count++] = byte;
    if (count < 3) return count;
    put_quartet(group_value(group), out);
    out += 4;
    return 0;
}

unsigned char* b64_finish(codec_state& state, unsigned char* out) {
    const unsigned char* g = state.group;
    if (state.count == 1) {
        std::uint32_t v = std::uint32_t{g[0]} << 4;
        out[0] = base64_alphabet[v >> 6];
        out[1] = base64_alphabet[v & 63];
        out[2] = '=';
        out[3] = '=';
        out += 4;
    } else if (state.count == 2) {
        std::uint32_t v = (std::uint32_t{g[0]} << 8 | g[1]) << 2;
        out[0] = base64_alphabet[v >> 12];
        out[1] = base64_alphabet[(v >> 6) & 63];
        out[2] = base64_alphabet[v & 63];
        out[3] = '=';
        out += 4;
    }
    state.count = 0;
    return out;
}

unsigned char* b64_bulk(codec_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    while (state.count != 0 && in < end) state.count = b64_push_byte(*in++, state.group, state.count, out);
    if (auto encode = kernels().b64) {
        std::size_t taken = encode(in, static_cast<std::size_t>(end - in), out);
        in += taken;
        out += taken / 3 * 4;
    }
    // Two groups per 8-byte load while two bytes of look-ahead are readable.
    while (end - in >= 8) {
        std::uint64_t v = load_big_endian(in);
        put_quartet(static_cast<std::uint32_t>(v >> 40), out);
        put_quartet(static_cast<std::uint32_t>(v >> 16) & 0xffffff, out + 4);
        in += 6;
        out += 8;
    }
    while (end - in >= 3) {
        put_quartet(group_value(in), out);
        in += 3;
        out += 4;
    }
    while (in < end) state.count = b64_push_byte(*in++, state.group, state.count, out);
    return out;
}

std::size_t b64_bound(const codec_state& state, std::size_t size) {
    return size_bound(size / 3 + 1, 4, (state.count != 0 ? 4 : 0) + kernel_overrun);
}

}  // namespace mime
