// Lookup tables shared by the codecs. All of them are built at compile time, so
// opening the module in any number of Lua states at once needs no guard.
#pragma once

#include <array>
#include <cstdint>

namespace mime {

using byte_table = std::array<unsigned char, 256>;

// Marks a byte that has no value in a table: outside the Base64 alphabet, or not
// a hexadecimal digit.
inline constexpr unsigned char no_value = 255;

inline constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline constexpr char qp_hex_digits[] = "0123456789ABCDEF";

// How the quoted-printable encoder treats a byte.
enum qp_class : unsigned char {
    literal = 0,          // copied unchanged
    escaped = 1,          // always written as an escape
    carriage_return = 2,  // looks at the next byte for LF
    whitespace = 3,       // looks at the next two bytes for CR LF
};

inline constexpr unsigned char cr = '\r';
inline constexpr unsigned char lf = '\n';

namespace detail {

constexpr byte_table make_base64_value() {
    byte_table table{};
    for (auto& entry : table) entry = no_value;
    for (unsigned i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(base64_alphabet[i])] = static_cast<unsigned char>(i);
    table['='] = 0;
    return table;
}

constexpr byte_table make_qp_char_class() {
    byte_table table{};
    for (unsigned i = 0; i < 256; ++i) {
        bool printable = (i >= 33 && i <= 126 && i != '=');
        table[i] = printable ? literal : escaped;
    }
    table['\t'] = whitespace;
    table[' '] = whitespace;
    table[cr] = carriage_return;
    return table;
}

constexpr byte_table make_qp_hex_value() {
    byte_table table{};
    for (auto& entry : table) entry = no_value;
    for (unsigned i = 0; i < 10; ++i) table['0' + i] = static_cast<unsigned char>(i);
    for (unsigned i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<unsigned char>(10 + i);
        table['a' + i] = static_cast<unsigned char>(10 + i);
    }
    return table;
}

}  // namespace detail

inline constexpr byte_table base64_value = detail::make_base64_value();
inline constexpr byte_table qp_char_class = detail::make_qp_char_class();
inline constexpr byte_table qp_hex_value = detail::make_qp_hex_value();

static_assert(base64_value['='] == 0 && base64_value['A'] == 0 && base64_value['a'] == 26);
static_assert(base64_value['-'] == no_value && base64_value['_'] == no_value);
static_assert(qp_char_class['='] == escaped && qp_char_class['\n'] == escaped);
static_assert(qp_char_class['~'] == literal && qp_char_class[127] == escaped);
static_assert(qp_hex_value['f'] == 15 && qp_hex_value['F'] == 15 && qp_hex_value['g'] == no_value);

}  // namespace mime
