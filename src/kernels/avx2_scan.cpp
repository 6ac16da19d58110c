// Quoted-printable and line kernels on 32-byte blocks (AVX2).
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
    static reg sub8(reg a, reg b) { return _mm256_sub_epi8(a, b); }
    static reg slli16_4(reg v) { return _mm256_slli_epi16(v, 4); }
    static __m128i lane(reg v, std::size_t i) {
        return i == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
    }
};

#include "kernels/compact.inc"
#include "kernels/scan_blocks.inc"

}  // namespace

std::size_t qp_encode(const unsigned char* in, std::size_t size, unsigned char*& out,
                      const unsigned char* line_end, std::size_t line_end_size) {
    return qp_blocks(in, size, out, line_end, line_end_size);
}

std::size_t unqp_decode(const unsigned char* in, std::size_t size, unsigned char*& out) {
    return unqp_blocks(in, size, out);
}

std::size_t qpwrp_lines(const unsigned char* in, std::size_t size, unsigned char*& out,
                        std::int32_t& room, std::int32_t line_length) {
    return qpwrp_blocks(in, size, out, room, line_length);
}

std::size_t wrp_lines(const unsigned char* in, std::size_t size, unsigned char*& out,
                      std::int32_t& room, std::int32_t line_length) {
    return wrp_blocks(in, size, out, room, line_length);
}

std::size_t eol_lines(const unsigned char* in, std::size_t size, unsigned char*& out,
                      std::int64_t& last_break, const unsigned char* line_end,
                      std::size_t line_end_size) {
    return eol_blocks(in, size, out, last_break, line_end, line_end_size);
}

std::size_t dot_lines(const unsigned char* in, std::size_t size, unsigned char*& out,
                      std::int64_t& line_state) {
    return dot_blocks(in, size, out, line_state);
}

}  // namespace avx2
}  // namespace mime
