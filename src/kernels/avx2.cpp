// The kernels on 32-byte blocks (AVX2): Base64 (groups to characters and back) and the
// block scans of the quoted-printable and line filters.
#include <immintrin.h>

#include "kernels/kernels.hpp"

namespace mime {
namespace avx2 {
namespace {

struct vec {
    using reg = __m256i;
    static constexpr std::size_t width = 32;
    static constexpr unsigned full = 0xffffffffu;
    static reg load(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(unsigned char* p, reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static reg splat(unsigned char c) { return _mm256_set1_epi8(static_cast<char>(c)); }
    static reg splat32(unsigned v) { return _mm256_set1_epi32(static_cast<int>(v)); }
    static reg lanes(const signed char (&bytes)[16]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    static reg eq(reg a, reg b) { return _mm256_cmpeq_epi8(a, b); }
    static reg gt(reg a, reg b) { return _mm256_cmpgt_epi8(a, b); }
    static reg or_(reg a, reg b) { return _mm256_or_si256(a, b); }
    static reg and_(reg a, reg b) { return _mm256_and_si256(a, b); }
    static unsigned mask(reg v) { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }
    static reg shuffle(reg table, reg index) { return _mm256_shuffle_epi8(table, index); }
    static reg mulhi16(reg a, reg b) { return _mm256_mulhi_epu16(a, b); }
    static reg mullo16(reg a, reg b) { return _mm256_mullo_epi16(a, b); }
    static reg subs_u8(reg a, reg b) { return _mm256_subs_epu8(a, b); }
    static reg add8(reg a, reg b) { return _mm256_add_epi8(a, b); }
    static reg maddubs(reg a, reg b) { return _mm256_maddubs_epi16(a, b); }
    static reg madd16(reg a, reg b) { return _mm256_madd_epi16(a, b); }
    static reg srli32_4(reg v) { return _mm256_srli_epi32(v, 4); }
    // 12 bytes of groups in each lane: in[0, 12) and in[12, 24), read 16 at a time.
    static reg encode_load(const unsigned char* p) {
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    }
    // 12 bytes at the start of each lane, joined into 24.
    static void decode_store(unsigned char* p, reg v) {
        store(p, _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)));
    }
    static reg andnot(reg a, reg b) { return _mm256_andnot_si256(a, b); }
    static reg sub8(reg a, reg b) { return _mm256_sub_epi8(a, b); }
    static reg slli16_4(reg v) { return _mm256_slli_epi16(v, 4); }
    static __m128i lane(reg v, std::size_t i) {
        return i == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
    }
};

#include "kernels/base64_blocks.inc"  // brings compact.inc, which the scans use too
#include "kernels/scan_blocks.inc"

}  // namespace

#include "kernels/exports.inc"

}  // namespace avx2
}  // namespace mime
