// Scanning kernels on 32-byte blocks (AVX2).
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
    static reg eq(reg a, reg b) { return _mm256_cmpeq_epi8(a, b); }
    static reg gt(reg a, reg b) { return _mm256_cmpgt_epi8(a, b); }
    static reg or_(reg a, reg b) { return _mm256_or_si256(a, b); }
    static reg and_(reg a, reg b) { return _mm256_and_si256(a, b); }
    static reg andnot(reg a, reg b) { return _mm256_andnot_si256(a, b); }
    static unsigned mask(reg v) { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }
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

}  // namespace avx2
}  // namespace mime
