// Scanning kernels on 16-byte blocks (SSE2 instructions; part of the SSSE3 set).
#include <emmintrin.h>

#include "kernels/kernels.hpp"

namespace mime {
namespace ssse3 {
namespace {

struct vec {
    using reg = __m128i;
    static constexpr std::size_t width = 16;
    static constexpr unsigned full = 0xffffu;
    static reg load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(unsigned char* p, reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static reg splat(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }
    static reg eq(reg a, reg b) { return _mm_cmpeq_epi8(a, b); }
    static reg gt(reg a, reg b) { return _mm_cmpgt_epi8(a, b); }
    static reg or_(reg a, reg b) { return _mm_or_si128(a, b); }
    static reg and_(reg a, reg b) { return _mm_and_si128(a, b); }
    static reg andnot(reg a, reg b) { return _mm_andnot_si128(a, b); }
    static unsigned mask(reg v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
};

#include "kernels/scan_blocks.inc"

}  // namespace

std::size_t copy_until_either(const unsigned char* in, std::size_t size, unsigned char* out,
                              unsigned char a, unsigned char b) {
    return copy_until_either_blocks(in, size, out, a, b);
}

std::size_t qp_copy_literal(const unsigned char* in, std::size_t size, unsigned char* out) {
    return qp_copy_literal_blocks(in, size, out);
}

std::size_t unqp_copy_plain(const unsigned char* in, std::size_t size, unsigned char* out) {
    return unqp_copy_plain_blocks(in, size, out);
}

}  // namespace ssse3
}  // namespace mime
