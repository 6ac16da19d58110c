// Writing output bytes: the pieces that the cores and the kernels both write.
//
// Everything here has internal linkage, as in base/decisions.hpp: a kernel file
// compiles its own copy with its instruction-set flags, so the linker can never
// take a copy built for a wider set in place of the portable one.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/shapes.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

// The line breaks the filters write: the hard one, and the quoted-printable soft one.
constexpr char hard_break[] = "\r\n";
constexpr char soft_break[] = "=\r\n";

// The caller's line end, which may be long.
inline unsigned char* put(unsigned char* out, byte_span bytes) {
    for (std::size_t i = 0; i < bytes.size; ++i) out[i] = bytes.data[i];
    return out + bytes.size;
}

inline unsigned char* put_hard_break(unsigned char* out) {
    std::memcpy(out, hard_break, 2);
    return out + 2;
}

inline unsigned char* put_soft_break(unsigned char* out) {
    std::memcpy(out, soft_break, 3);
    return out + 3;
}

// A quoted-printable escape: "=" and two upper-case hexadecimal digits.
inline unsigned char* put_escape(unsigned char* out, unsigned char byte) {
    out[0] = '=';
    out[1] = static_cast<unsigned char>(qp_hex_digits[byte >> 4]);
    out[2] = static_cast<unsigned char>(qp_hex_digits[byte & 15]);
    return out + 3;
}

}  // namespace
}  // namespace mime
