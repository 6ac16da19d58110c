// Lookup tables shared by the codecs and their kernels: plain constant data built
// at compile time, so opening the module in any number of Lua states at once
// needs no guard, and a kernel compiled for another instruction set reads the
// same bytes (no code of these tables runs at run time).
#pragma once

namespace mime {

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

namespace detail {

// A character's place in a table of 256 (a plain char may be signed).
constexpr unsigned at(char c) { return static_cast<unsigned char>(c); }

struct byte_table {
    unsigned char value[256];
};

constexpr byte_table make_base64_value() {
    byte_table table{};
    for (auto& entry : table.value) entry = no_value;
    for (unsigned i = 0; i < 64; ++i)
        table.value[at(base64_alphabet[i])] = static_cast<unsigned char>(i);
    table.value[at('=')] = 0;
    return table;
}

constexpr byte_table make_qp_char_class() {
    byte_table table{};
    for (unsigned i = 0; i < 256; ++i) {
        bool printable = (i >= 33 && i <= 126 && i != '=');
        table.value[i] = printable ? literal : escaped;
    }
    table.value[at('\t')] = whitespace;
    table.value[at(' ')] = whitespace;
    table.value[at('\r')] = carriage_return;
    return table;
}

constexpr byte_table make_qp_hex_value() {
    byte_table table{};
    for (auto& entry : table.value) entry = no_value;
    for (unsigned i = 0; i < 10; ++i) table.value['0' + i] = static_cast<unsigned char>(i);
    for (unsigned i = 0; i < 6; ++i) {
        table.value['A' + i] = static_cast<unsigned char>(10 + i);
        table.value['a' + i] = static_cast<unsigned char>(10 + i);
    }
    return table;
}

inline constexpr byte_table base64_value_table = make_base64_value();
inline constexpr byte_table qp_char_class_table = make_qp_char_class();
inline constexpr byte_table qp_hex_value_table = make_qp_hex_value();

}  // namespace detail

// 256 entries each, indexed by an unsigned byte.
inline constexpr const unsigned char (&base64_value)[256] = detail::base64_value_table.value;
inline constexpr const unsigned char (&qp_char_class)[256] = detail::qp_char_class_table.value;
inline constexpr const unsigned char (&qp_hex_value)[256] = detail::qp_hex_value_table.value;

namespace detail {
static_assert(base64_value[at('=')] == 0 && base64_value[at('A')] == 0 && base64_value[at('a')] == 26);
static_assert(base64_value[at('-')] == no_value && base64_value[at('_')] == no_value);
static_assert(qp_char_class[at('=')] == escaped && qp_char_class[at('\n')] == escaped);
static_assert(qp_char_class[at('~')] == literal && qp_char_class[127] == escaped);
static_assert(qp_hex_value[at('f')] == 15 && qp_hex_value[at('F')] == 15 && qp_hex_value[at('g')] == no_value);
}  // namespace detail

}  // namespace mime
