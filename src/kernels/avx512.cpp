// The kernels of the AVX-512 set (with VBMI and VBMI2). Base64 on 64-byte blocks:
// 48 bytes to 64 characters by one byte permutation, one multishift and one table
// permutation; and back, with the bytes outside the alphabet dropped by one
// compress. The text filters on 32-byte blocks, as in the AVX2 set.
#include <immintrin.h>

#include "base/decisions.hpp"
#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

#include "kernels/avx2_vector.inc"
#include "kernels/lines.inc"
#include "kernels/qp.inc"

// {=================================================================== Base64

// For each of the 128 ASCII bytes: its value, or 0x80 outside the alphabet ("="
// included: a block holding one is left to the portable code).
struct ascii_values {
    alignas(64) unsigned char value[128];
};

constexpr ascii_values make_values() {
    ascii_values t{};
    for (unsigned i = 0; i < 128; ++i)
        t.value[i] = base64_value[i] == no_value || i == '=' ? 0x80 : base64_value[i];
    return t;
}

constexpr ascii_values values = make_values();

struct byte_orders {
    alignas(64) unsigned char spread[64];  // per group b0 b1 b2: b1 b0 b2 b1
    alignas(64) unsigned char pack[64];    // per 24-bit value in 32 bits: its bytes high first
};

constexpr byte_orders make_orders() {
    byte_orders o{};
    for (unsigned k = 0; k < 16; ++k) {
        o.spread[4 * k] = static_cast<unsigned char>(3 * k + 1);
        o.spread[4 * k + 1] = static_cast<unsigned char>(3 * k);
        o.spread[4 * k + 2] = static_cast<unsigned char>(3 * k + 2);
        o.spread[4 * k + 3] = static_cast<unsigned char>(3 * k + 1);
        o.pack[3 * k] = static_cast<unsigned char>(4 * k + 2);
        o.pack[3 * k + 1] = static_cast<unsigned char>(4 * k + 1);
        o.pack[3 * k + 2] = static_cast<unsigned char>(4 * k);
    }
    return o;
}

constexpr byte_orders orders = make_orders();

inline __m512i load(const void* p) { return _mm512_loadu_si512(p); }

// 64 values (0 to 63) to 48 bytes at out; stores 64.
inline void pack_values(__m512i v, unsigned char* out) {
    __m512i pairs = _mm512_maddubs_epi16(v, _mm512_set1_epi32(0x01400140));
    __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
    _mm512_storeu_si512(out, _mm512_permutexvar_epi8(load(orders.pack), groups));
}

// Characters gathered (as values) before they are decoded: a batch, and room
// for one more block.
constexpr std::size_t batch = 4096;

std::size_t b64_blocks(const unsigned char* in, std::size_t size, unsigned char* out) {
    const __m512i spread = load(orders.spread);
    const __m512i shifts = _mm512_set1_epi64(0x3036242a1016040a);  // the bit offset of each field
    const __m512i lookup = load(base64_alphabet);
    std::size_t done = 0;
    while (size - done >= 64) {  // a whole vector is read, 48 bytes taken
        __m512i groups = _mm512_permutexvar_epi8(spread, load(in + done));
        __m512i fields = _mm512_multishift_epi64_epi8(shifts, groups);
        _mm512_storeu_si512(out, _mm512_permutexvar_epi8(fields, lookup));
        done += 48;
        out += 64;
    }
    return done;
}

std::size_t unb64_blocks(const unsigned char* in, std::size_t size, unsigned char*& out_ref,
                         unsigned char* quartet, unsigned& count) {
    if (size < 64) return 0;
    for (unsigned k = 0; k < count; ++k)
        if (quartet[k] == '=') return 0;  // decoded by the step
    alignas(64) unsigned char gathered[batch + 128];
    std::size_t held = count;
    for (unsigned k = 0; k < count; ++k) gathered[k] = values.value[quartet[k]];
    const __m512i low_table = load(values.value), high_table = load(values.value + 64);
    const __m512i equals = _mm512_set1_epi8('=');
    unsigned char* out = out_ref;
    std::size_t i = 0;
    for (; size - i >= 64; i += 64) {
        __m512i chars = load(in + i);
        if (_mm512_cmpeq_epi8_mask(chars, equals) != 0) break;  // left to the portable code
        __m512i v = _mm512_permutex2var_epi8(low_table, chars, high_table);
        // Outside the alphabet: the table says so, or the byte is 128 or more.
        __mmask64 good = ~_mm512_movepi8_mask(_mm512_or_si512(v, chars));
        _mm512_storeu_si512(gathered + held, _mm512_maskz_compress_epi8(good, v));
        held += static_cast<std::size_t>(_mm_popcnt_u64(good));
        if (held >= batch) {
            std::size_t whole = held / 64 * 64;
            for (std::size_t k = 0; k < whole; k += 64, out += 48) pack_values(load(gathered + k), out);
            _mm512_storeu_si512(gathered, load(gathered + whole));
            held -= whole;
        }
    }
    std::size_t whole = held / 64 * 64;
    for (std::size_t k = 0; k < whole; k += 64, out += 48) pack_values(load(gathered + k), out);
    std::size_t k = whole;
    for (; held - k >= 4; k += 4, out += 3) {
        unsigned v = unsigned{gathered[k]} << 18 | unsigned{gathered[k + 1]} << 12 |
                     unsigned{gathered[k + 2]} << 6 | gathered[k + 3];
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    count = static_cast<unsigned>(held - k);
    for (unsigned j = 0; j < count; ++j) quartet[j] = static_cast<unsigned char>(base64_alphabet[gathered[k + j]]);
    out_ref = out;
    return i;
}

// }==============================================================================

}  // namespace

extern const kernel_table avx512_kernels{b64_blocks,   unb64_blocks, qp_blocks,  unqp_blocks,
                                         qpwrp_blocks, wrp_blocks,   eol_blocks, dot_blocks,
                                       eol_clean_blocks};

}  // namespace mime
