// The block kernels behind the bulk routines. A kernel works on whole blocks of
// the input and returns how far it got; the portable code of the core finishes
// the rest, so a kernel never has to handle a short tail or a rare case.
//
// Writing: a kernel may store up to `kernel_overrun` bytes past the end of the
// output it gives (whole-vector stores); every bound leaves that much room, and
// the bytes past the end are overwritten by whatever comes next.
//
// This header declares plain functions only: kernel sources are compiled with
// their own instruction-set flags and must not share inline code with the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mime {

inline constexpr std::size_t kernel_overrun = 64;

struct kernel_table {
    // Base64: encodes whole 3-byte groups of in[0, size) to out, four characters
    // per group. Returns the number of input bytes taken (a multiple of 3).
    std::size_t (*b64_encode)(const unsigned char* in, std::size_t size, unsigned char* out);
    // Base64 decoding with `count` (0 to 3) characters already pending in
    // `quartet`: takes alphabet characters and skips every byte outside the
    // alphabet, stopping before the block that holds the first "=". Decoded bytes
    // go to *out (advanced); the characters of an unfinished quartet are left in
    // `quartet`/`count`. Takes nothing while a pending character is "=". Returns
    // the number of input bytes taken.
    std::size_t (*unb64_decode)(const unsigned char* in, std::size_t size, unsigned char*& out,
                                unsigned char* quartet, unsigned& count);
    // The text filters: each takes whole blocks from `in`, writes to *out
    // (advanced) and returns the number of input bytes taken, giving exactly what
    // the filter's step gives byte by byte.
    // Quoted-printable encoding with an empty window.
    std::size_t (*qp_encode)(const unsigned char* in, std::size_t size, unsigned char*& out,
                             const unsigned char* line_end, std::size_t line_end_size);
    // Quoted-printable decoding with nothing pending.
    std::size_t (*unqp_decode)(const unsigned char* in, std::size_t size, unsigned char*& out);
    std::size_t (*qpwrp_lines)(const unsigned char* in, std::size_t size, unsigned char*& out,
                               std::int32_t& room, std::int32_t line_length);
    std::size_t (*wrp_lines)(const unsigned char* in, std::size_t size, unsigned char*& out,
                             std::int32_t& room, std::int32_t line_length);
    std::size_t (*eol_lines)(const unsigned char* in, std::size_t size, unsigned char*& out,
                             std::int64_t& last_break, const unsigned char* line_end,
                             std::size_t line_end_size);
    std::size_t (*dot_lines)(const unsigned char* in, std::size_t size, unsigned char*& out,
                             std::int64_t& line_state);
};

#if MIME_X86_KERNELS
// One namespace and one source file per instruction set (ssse3.cpp, avx2.cpp;
// avx512_base64.cpp has the Base64 kernels only).
#define MIME_DECLARE_KERNELS(isa)                                                              \
    namespace isa {                                                                            \
    std::size_t b64_encode(const unsigned char* in, std::size_t size, unsigned char* out);     \
    std::size_t unb64_decode(const unsigned char* in, std::size_t size, unsigned char*& out,   \
                             unsigned char* quartet, unsigned& count);                         \
    std::size_t qp_encode(const unsigned char* in, std::size_t size, unsigned char*& out,      \
                          const unsigned char* line_end, std::size_t line_end_size);           \
    std::size_t unqp_decode(const unsigned char* in, std::size_t size, unsigned char*& out);   \
    std::size_t qpwrp_lines(const unsigned char* in, std::size_t size, unsigned char*& out,    \
                            std::int32_t& room, std::int32_t line_length);                     \
    std::size_t wrp_lines(const unsigned char* in, std::size_t size, unsigned char*& out,      \
                          std::int32_t& room, std::int32_t line_length);                       \
    std::size_t eol_lines(const unsigned char* in, std::size_t size, unsigned char*& out,      \
                          std::int64_t& last_break, const unsigned char* line_end,             \
                          std::size_t line_end_size);                                          \
    std::size_t dot_lines(const unsigned char* in, std::size_t size, unsigned char*& out,      \
                          std::int64_t& line_state);                                           \
    }
MIME_DECLARE_KERNELS(ssse3)
MIME_DECLARE_KERNELS(avx2)
#undef MIME_DECLARE_KERNELS
#if MIME_AVX512_KERNELS
// AVX-512 (VBMI, VBMI2) for Base64 only; the set takes the rest from AVX2.
namespace avx512 {
std::size_t b64_encode(const unsigned char* in, std::size_t size, unsigned char* out);
std::size_t unb64_decode(const unsigned char* in, std::size_t size, unsigned char*& out,
                         unsigned char* quartet, unsigned& count);
}
#endif
#endif

// The table the bulk routines use on this thread (see module/cpu.hpp).
const kernel_table& kernels();

}  // namespace mime
