// The kernels on 16-byte blocks (SSSE3).
#include <tmmintrin.h>

#include "base/decisions.hpp"
#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

struct vec {
    using reg = __m128i;
    static constexpr std::size_t width = 16;
    static constexpr unsigned full = 0xffffu;
    static reg load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(unsigned char* p, reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static reg splat(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }
    static reg splat32(unsigned v) { return _mm_set1_epi32(static_cast<int>(v)); }
    static reg lanes(const signed char (&bytes)[16]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)); }
    static reg eq(reg a, reg b) { return _mm_cmpeq_epi8(a, b); }
    static reg gt(reg a, reg b) { return _mm_cmpgt_epi8(a, b); }
    static reg or_(reg a, reg b) { return _mm_or_si128(a, b); }
    static reg and_(reg a, reg b) { return _mm_and_si128(a, b); }
    static unsigned mask(reg v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
    static reg shuffle(reg table, reg index) { return _mm_shuffle_epi8(table, index); }
    static reg mulhi16(reg a, reg b) { return _mm_mulhi_epu16(a, b); }
    static reg mullo16(reg a, reg b) { return _mm_mullo_epi16(a, b); }
    static reg subs_u8(reg a, reg b) { return _mm_subs_epu8(a, b); }
    static reg add8(reg a, reg b) { return _mm_add_epi8(a, b); }
    static reg maddubs(reg a, reg b) { return _mm_maddubs_epi16(a, b); }
    static reg madd16(reg a, reg b) { return _mm_madd_epi16(a, b); }
    static reg srli32_4(reg v) { return _mm_srli_epi32(v, 4); }
    static reg encode_load(const unsigned char* p) { return load(p); }
    static void decode_store(unsigned char* p, reg v) { store(p, v); }
    static reg andnot(reg a, reg b) { return _mm_andnot_si128(a, b); }
    static reg sub8(reg a, reg b) { return _mm_sub_epi8(a, b); }
    static reg slli16_4(reg v) { return _mm_slli_epi16(v, 4); }
    static __m128i lane(reg v, std::size_t) { return v; }
};

#include "kernels/base64.inc"
#include "kernels/lines.inc"
#include "kernels/qp.inc"

}  // namespace

extern const kernel_table ssse3_kernels{b64_blocks,   unb64_blocks, qp_blocks,  unqp_blocks,
                                        qpwrp_blocks, wrp_blocks,   eol_blocks, dot_blocks,
                                       eol_clean_blocks};

}  // namespace mime
