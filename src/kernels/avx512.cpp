// The kernels of the AVX-512 set (with VBMI, VBMI2, BMI and BMI2), on 64-byte blocks.
// Base64: 48 bytes to 64 characters by one byte permutation, one multishift and
// one table permutation; and back, with the bytes outside the alphabet dropped by
// one compress. Quoted-printable: each byte of a block classified at once, by
// table lookups of it and of its neighbours; the escapes of an encoded block
// spread by permutations and compressed, a decoded block compressed. The wrappers and eol
// as the AVX2 ones, a whole block at each step where they can; dot, and qp and
// eol with a line end other than CR LF, take the AVX2 kernels.
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

// }=================================================================== quoted-printable

inline __mmask64 equal(__m512i v, unsigned char c) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(c)));
}

// A table of 128 bytes in two registers, and a byte's entry in it, a byte from
// 128 up taken as 127 (`del` holds 127 in every byte).
struct table128 {
    __m512i low, high;
};

inline table128 load_table(const unsigned char* t) { return {load(t), load(t + 64)}; }

inline __m512i look_up(const table128& t, __m512i bytes, __m512i del) {
    return _mm512_permutex2var_epi8(t.low, _mm512_min_epu8(bytes, del), t.high);
}

// What the decoder needs to know of a byte (taken below 128: from 128 up a
// byte is looked up as DEL) by its place next to the byte decided: one table
// for the byte itself, one for each of the two after it and the two before it.
// Each gives its part of six answers, one to a bit, so that the five looked up
// and ANDed give them all at once; the two after give their three (the low
// bits) next to the value of a hexadecimal digit (the high four).
enum : unsigned char {
    escape_bit = 1,    // "=" and two hexadecimal digits
    soft_bit = 2,      // "=" CR LF
    kept_cr_bit = 4,   // a CR before an LF, not the digit of an "="
    plain_bit = 8,     // tab, 32 to 126 but "=", not the digit of an "="
    kept_lf_bit = 16,  // an LF after a kept CR
    equals_bit = 32,   // "="
};

struct unqp_roles {
    alignas(64) unsigned char self[128];
    alignas(64) unsigned char next[128];
    alignas(64) unsigned char after[128];
    alignas(64) unsigned char before[128];
    alignas(64) unsigned char two_before[128];
};

constexpr unqp_roles make_unqp_roles() {
    unqp_roles t{};
    for (unsigned c = 0; c < 128; ++c) {
        bool eq = c == '=', hex = qp_hex_value[c] != no_value;
        bool plain = c == '\t' || (c >= 32 && c <= 126 && !eq);
        auto bits = [](bool b, unsigned bit) { return b ? bit : 0u; };
        auto value = hex ? unsigned{qp_hex_value[c]} << 4 : 0u;
        t.self[c] = static_cast<unsigned char>(bits(eq, escape_bit | soft_bit | equals_bit) | bits(c == cr, kept_cr_bit) |
                                               bits(plain, plain_bit) | bits(c == lf, kept_lf_bit));
        t.next[c] = static_cast<unsigned char>(value | bits(hex, escape_bit) | bits(c == cr, soft_bit) |
                                               bits(c == lf, kept_cr_bit));
        t.after[c] = static_cast<unsigned char>(value | bits(hex, escape_bit) | bits(c == lf, soft_bit) | kept_cr_bit);
        t.before[c] = static_cast<unsigned char>((0xff & ~(kept_cr_bit | plain_bit | kept_lf_bit)) |
                                                 bits(!eq, kept_cr_bit | plain_bit) | bits(c == cr, kept_lf_bit));
        t.two_before[c] = static_cast<unsigned char>((0xff & ~(plain_bit | kept_lf_bit)) | bits(!eq, plain_bit | kept_lf_bit));
    }
    return t;
}

constexpr unqp_roles unqp_role = make_unqp_roles();

// Decoding with nothing pending, a 64-byte block at each step. What becomes of
// each byte (kept, decoded from an escape, dropped) depends on the two bytes on
// each side of it: five table lookups and three logic operations give it for
// the whole block, so that the decisions cost vector operations, not mask
// ones (which some CPUs run one at a time). Every block is decoded whole, its
// dropped bytes removed by one compress (encoded text has a line end in most
// blocks: a test for blocks to copy as they are costs more than it saves). The step
// is always a whole block, so the next load never waits for this block's
// decoding: an escape reaching past the block is decoded with it, and the next
// block sees, in the bytes before it, that its first bytes are digits or the LF
// of a kept CR. A malformed escape cuts the block short; the portable decision
// copies it, and the block after starts afresh, as the first does.
std::size_t unqp_blocks64(const unsigned char* in, std::size_t size, unsigned char*& out_ref) {
    if (size < 64 + 2) return 0;
    const table128 self_table = load_table(unqp_role.self), next_table = load_table(unqp_role.next),
                   after_table = load_table(unqp_role.after), before_table = load_table(unqp_role.before),
                   two_before_table = load_table(unqp_role.two_before);
    const __m512i del = _mm512_set1_epi8(127), high_nibble = _mm512_set1_epi8(static_cast<char>(0xf0));
    // The bits the two bytes after have no part in.
    const __m512i not_after = _mm512_set1_epi8(static_cast<char>(0xff & ~(escape_bit | soft_bit | kept_cr_bit)));
    const __m512i kept_flags = _mm512_set1_epi8(escape_bit | kept_cr_bit | plain_bit | kept_lf_bit);
    __m512i equals_flag = _mm512_set1_epi8(equals_bit), escape_flag = _mm512_set1_epi8(escape_bit);
    __m512i equals_flags = _mm512_set1_epi8(escape_bit | soft_bit | equals_bit);
    __asm__("" : "+v"(equals_flag), "+v"(equals_flags), "+v"(escape_flag));  // kept in registers, not made again in the loop
    const unsigned char* p = in;
    const unsigned char* const last = in + size - 64 - 2;
    unsigned char* out = out_ref;
    bool fresh = true;  // the bytes before p take no part (the first block, or after a cut)
    while (p <= last) {
        __m512i v = load(p), next = load(p + 1), after = load(p + 2);
        __m512i before, two_before;
        if (fresh) {
            before = _mm512_maskz_loadu_epi8(~__mmask64{1}, p - 1);
            two_before = _mm512_maskz_loadu_epi8(~__mmask64{3}, p - 2);
            fresh = false;
        } else {
            before = load(p - 1);
            two_before = load(p - 2);
        }
        __m512i next_flags = look_up(next_table, next, del), after_flags = look_up(after_table, after, del);
        __m512i flags = _mm512_ternarylogic_epi32(look_up(self_table, v, del), look_up(before_table, before, del),
                                                  look_up(two_before_table, two_before, del), 0x80);  // a & b & c
        flags = _mm512_and_si512(flags, _mm512_ternarylogic_epi32(next_flags, after_flags, not_after, 0xea));  // a & b | c
        __mmask64 keep = _mm512_test_epi8_mask(flags, kept_flags);
        // An "=" that starts neither an escape nor a soft break.
        __mmask64 malformed = _mm512_testn_epi8_mask(_mm512_xor_si512(flags, equals_flag), equals_flags);
        // The high four bits of the next byte's entry, and those of the one after moved down.
        __m512i decoded = _mm512_ternarylogic_epi32(next_flags, _mm512_srli_epi16(after_flags, 4), high_nibble, 0xe4);
        __m512i bytes = _mm512_mask_mov_epi8(v, _mm512_test_epi8_mask(flags, escape_flag), decoded);
        if (malformed != 0) {  // cut before it (no escape or CR LF before it reaches it)
            auto length = static_cast<std::size_t>(__builtin_ctzll(malformed));
            keep &= (__mmask64{1} << length) - 1;
            _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, bytes));
            out += _mm_popcnt_u64(keep);
            p += length;
            out = unqp_equals(p, out);
            p += 3;
            fresh = true;
            continue;
        }
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, bytes));
        out += _mm_popcnt_u64(keep);
        p += 64;
    }
    // What the last block took of the next: the digits of an escape (or soft
    // break) in its last two bytes, or the LF of the CR it kept last.
    if (!fresh) {
        if (p[-1] == '=') {
            p += 2;
        } else if (p[-2] == '=') {
            p += 1;
        } else if (p[-1] == cr && p[0] == lf) {
            *out++ = lf;
            ++p;
        }
    }
    out_ref = out;
    return static_cast<std::size_t>(p - in);
}

// A block of 63 bytes is encoded in three parts of 21, every byte taking three
// places of a register (itself or "=", then its two digits). Where each goes:
// place 3j of the first 63 from the first source, 3j + 1 from the second (as
// index 64 + j), for the 21 bytes of each part; the low digits' places 3j + 2;
// and both digits' places, from byte j.
constexpr unsigned part_size = 21, parts = 3;

struct spread_orders {
    alignas(64) unsigned char pair[parts][64];
    alignas(64) unsigned char low[parts][64];
    alignas(64) unsigned char digits[parts][64];
    alignas(64) unsigned char twice[2][64];  // each byte of a half to two places
};

constexpr spread_orders make_spread_orders() {
    spread_orders o{};
    for (unsigned q = 0; q < parts; ++q)
        for (unsigned j = 0; j < part_size; ++j) {
            auto from = static_cast<unsigned char>(part_size * q + j);
            o.pair[q][3 * j] = from;
            o.pair[q][3 * j + 1] = static_cast<unsigned char>(64 + from);
            o.low[q][3 * j + 2] = from;
            o.digits[q][3 * j + 1] = o.digits[q][3 * j + 2] = from;
        }
    for (unsigned k = 0; k < 64; ++k) {
        o.twice[0][k] = static_cast<unsigned char>(k / 2);
        o.twice[1][k] = static_cast<unsigned char>(32 + k / 2);
    }
    return o;
}

constexpr spread_orders spread_order = make_spread_orders();

// What the encoder needs to know of a byte (taken below 128: from 128 up a
// byte is looked up as DEL), by its place next to the byte decided: itself, the
// two after it and the one before. Each table gives its part of five reasons to
// keep a byte as it is, one to a bit, so that the four looked up and ANDed give
// them all at once; a byte with none is escaped.
enum : unsigned char {
    safe_bit = 1,      // 33 to 126 but "="
    blank_cr_bit = 2,  // a blank not before a CR
    blank_lf_bit = 4,  // a blank not before the LF of a line end
    cr_lf_bit = 8,     // a CR before an LF
    lf_cr_bit = 16,    // an LF after a CR
    keep_bits = 31,
};

struct qp_roles {
    alignas(64) unsigned char self[128];
    alignas(64) unsigned char next[128];
    alignas(64) unsigned char after[128];
    alignas(64) unsigned char before[128];
};

constexpr qp_roles make_qp_roles() {
    qp_roles t{};
    for (unsigned c = 0; c < 128; ++c) {
        auto bits = [](bool b, unsigned bit) { return b ? bit : 0u; };
        bool blank = c == ' ' || c == '\t';
        t.self[c] = static_cast<unsigned char>(bits(c >= 33 && c <= 126 && c != '=', safe_bit) |
                                               bits(blank, blank_cr_bit | blank_lf_bit) | bits(c == cr, cr_lf_bit) |
                                               bits(c == lf, lf_cr_bit));
        t.next[c] = static_cast<unsigned char>((keep_bits & ~(blank_cr_bit | cr_lf_bit)) | bits(c != cr, blank_cr_bit) |
                                               bits(c == lf, cr_lf_bit));
        t.after[c] = static_cast<unsigned char>((keep_bits & ~blank_lf_bit) | bits(c != lf, blank_lf_bit));
        t.before[c] = static_cast<unsigned char>((keep_bits & ~lf_cr_bit) | bits(c == cr, lf_cr_bit));
    }
    return t;
}

constexpr qp_roles qp_role = make_qp_roles();

// With the line end CR LF, 63 bytes at each step: a block is classified at
// once, by four table lookups and two logic operations (vector operations, not
// mask ones, which some CPUs run one at a time); then each part of 21 bytes is
// spread to three places a byte and the places not needed dropped by one
// compress (three parts of 21 take a quarter fewer compresses, the costliest
// step, than four of 16).
std::size_t qp_blocks_cr_lf64(const unsigned char* in, std::size_t size, unsigned char*& out_ref) {
    if (size < 64 + 2) return 0;
    const __m512i digits = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(qp_hex_digits)));
    const __m512i nibble = _mm512_set1_epi8(0x0f), del = _mm512_set1_epi8(127), keep = _mm512_set1_epi8(keep_bits);
    const table128 self_table = load_table(qp_role.self), next_table = load_table(qp_role.next),
                   after_table = load_table(qp_role.after), before_table = load_table(qp_role.before);
    constexpr std::uint64_t firsts = 0x1249249249249249ull;  // every third of 63 places
    constexpr __mmask64 digit_places = firsts << 1 | firsts << 2;
    constexpr std::uint64_t part_bits = (std::uint64_t{1} << part_size) - 1;
    const unsigned char* p = in;
    const unsigned char* const last = in + size - 64 - 2;
    unsigned char* out = out_ref;
    while (p <= last) {
        __m512i v = load(p);
        // An LF is kept after a CR (one that came before the kernel started never
        // does: the window would still hold it).
        __m512i before = p > in ? load(p - 1) : _mm512_maskz_loadu_epi8(~__mmask64{1}, p - 1);
        __m512i flags = _mm512_ternarylogic_epi32(look_up(self_table, v, del), look_up(next_table, load(p + 1), del),
                                                  look_up(after_table, load(p + 2), del), 0x80);  // a & b & c
        flags = _mm512_and_si512(flags, look_up(before_table, before, del));
        __mmask64 escaped = _mm512_testn_epi8_mask(flags, keep);
        __m512i first = _mm512_mask_mov_epi8(v, escaped, _mm512_set1_epi8('='));
        __m512i high = _mm512_shuffle_epi8(digits, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble));
        __m512i low = _mm512_shuffle_epi8(digits, _mm512_and_si512(v, nibble));
        for (unsigned q = 0; q < parts; ++q) {
            auto these = (escaped >> (part_size * q)) & part_bits;
            __m512i places = _mm512_permutex2var_epi8(first, load(spread_order.pair[q]), high);
            places = _mm512_mask_permutexvar_epi8(places, firsts << 2, load(spread_order.low[q]), low);
            // The places to keep: each byte's first, and its digits when it is
            // escaped (its flags, spread to them, say so); the place past 63
            // comes out after the rest and is overwritten.
            __m512i spread_flags = _mm512_maskz_permutexvar_epi8(digit_places, load(spread_order.digits[q]), flags);
            _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(_mm512_testn_epi8_mask(spread_flags, keep), places));
            out += part_size + 2 * _mm_popcnt_u64(these);
        }
        p += parts * part_size;
    }
    if (p > in && p[-1] == cr && p[0] == lf) {  // a CR kept for the LF after it: that LF too
        *out++ = lf;
        ++p;
    }
    out_ref = out;
    return static_cast<std::size_t>(p - in);
}

std::size_t qp_blocks64(const unsigned char* in, std::size_t size, unsigned char*& out,
                        byte_span line_end) {
    if (line_end.size == 2 && line_end.data[0] == cr && line_end.data[1] == lf)
        return qp_blocks_cr_lf64(in, size, out);
    return qp_blocks(in, size, out, line_end);
}

// }=================================================================== eol

// With the line end CR LF, a 64-byte block that does not end in a line break
// and holds no CR without its LF gives itself with a CR before each bare LF.
// One or two bare LFs (text with LF line ends has about one a block) take one
// expand that leaves a CR in front of each; with more, each half is spread to
// two places a byte (a CR, then the byte) and the CRs not needed dropped by one
// compress. Elsewhere, and for other line ends, as the AVX2 kernel.
std::size_t eol_blocks64(const unsigned char* in, std::size_t size, unsigned char*& out_ref,
                         std::int64_t& last_break, byte_span line_end) {
    if (!(line_end.size == 2 && line_end.data[0] == cr && line_end.data[1] == lf))
        return eol_blocks(in, size, out_ref, last_break, line_end);
    if (size < 64) return 0;
    const unsigned char* p = in;
    const unsigned char* const last = in + size - 64;
    unsigned char* out = out_ref;
    std::int64_t previous = last_break;
    const __m512i carriage_returns = _mm512_set1_epi8(cr);
    const __m512i low_half = load(spread_order.twice[0]), high_half = load(spread_order.twice[1]);
    constexpr std::uint64_t bytes = 0xaaaaaaaaaaaaaaaaull;  // the odd places
    while (p <= last) {
        if (previous != 0) {  // after a line end the step: it may be half of a pair
            previous = eol_push_char(*p++, previous, line_end, out);
            continue;
        }
        __m512i v = load(p);
        __mmask64 crs = equal(v, cr), lfs = equal(v, lf);
        __mmask64 stops = crs | lfs;
        // An LF first in the block comes after a byte that is no break (a block
        // ends in one, and the step's state is 0).
        if ((stops >> 63) == 0 && (crs & ~(lfs >> 1)) == 0) {
            __mmask64 bare = lfs & ~(crs << 1);
            if (bare == 0) {
                _mm512_storeu_si512(out, v);
                out += 64;
            } else if ((bare & (bare - 1)) == 0) {
                // One bare LF, as in text with LF line ends: the block spread
                // round a CR in its place, and its last byte after.
                _mm512_storeu_si512(out, _mm512_mask_expand_epi8(carriage_returns, ~bare, v));
                out[64] = p[63];
                out += 65;
            } else if (std::uint64_t rest = bare & (bare - 1); (rest & (rest - 1)) == 0) {
                // Two: the second CR one place further on.
                __mmask64 crs_out = (bare ^ rest) | rest << 1;
                _mm512_storeu_si512(out, _mm512_mask_expand_epi8(carriage_returns, ~crs_out, v));
                out[64] = p[62];
                out[65] = p[63];
                out += 66;
            } else {
                __m512i low = _mm512_mask_permutexvar_epi8(carriage_returns, bytes, low_half, v);
                __m512i high = _mm512_mask_permutexvar_epi8(carriage_returns, bytes, high_half, v);
                __mmask64 low_keep = bytes | _pdep_u64(bare & 0xffffffffu, ~bytes);
                __mmask64 high_keep = bytes | _pdep_u64(bare >> 32, ~bytes);
                _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(low_keep, low));
                out += 32 + _mm_popcnt_u64(bare & 0xffffffffu);
                _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(high_keep, high));
                out += 32 + _mm_popcnt_u64(bare >> 32);
            }
            p += 64;
            continue;
        }
        _mm512_storeu_si512(out, v);
        auto j = static_cast<std::size_t>(__builtin_ctzll(stops));
        p += j;
        out += j;
        previous = eol_push_char(*p++, 0, line_end, out);
    }
    last_break = previous;
    out_ref = out;
    return static_cast<std::size_t>(p - in);
}

// }=================================================================== wrp, qpwrp

// The wrappers on 64-byte blocks, for lines of 64 or more (67 or more for
// qpwrp, which keeps room for an escape): a block whose every CR stands before
// an LF, every LF after a CR, and whose first line fits comes out as it went in
// (a CR LF is dropped and written again as the break), whether or not it holds
// a line end: one branch that text mostly takes, and a whole block at each
// step, so that no load waits for the block before it (a CR LF across two
// blocks leaves its CR in the first). Where a line fills up inside a block its
// break is placed at once; near a full line, at a lone CR or LF, and near a
// block's end, the step places each byte.
struct wrp_rules {
    static constexpr std::int32_t near_end = wrp_full;
    static std::int32_t step(unsigned char c, std::int32_t room, std::int32_t length, unsigned char*& out) {
        return wrp_step(c, room, length, out);
    }
    // The break where the line is full, before the byte at p (not CR or LF,
    // and two more bytes readable): how many bytes go before it.
    static std::size_t before_break(const unsigned char*) { return 0; }
    static unsigned char* put_break(unsigned char* out) { return put_hard_break(out); }
    static constexpr auto narrow = wrp_blocks;
};

struct qpwrp_rules {
    static constexpr std::int32_t near_end = qpwrp_full_before_escape;
    static std::int32_t step(unsigned char c, std::int32_t room, std::int32_t length, unsigned char*& out) {
        return qpwrp_step(c, room, length, out);
    }
    // With room 3 the break comes before the next "=", or two bytes on.
    static std::size_t before_break(const unsigned char* p) {
        return static_cast<std::size_t>(p[0] != '=') * (1 + static_cast<std::size_t>(p[1] != '='));
    }
    static unsigned char* put_break(unsigned char* out) { return put_soft_break(out); }
    static constexpr auto narrow = qpwrp_blocks;
};

// A mask moved to a general register and kept there. Left to itself the
// compiler does the logic on masks in mask registers, moving values to and fro,
// which on some CPUs (one mask operation at a time, two cycles a move) costs
// more than the work.
inline std::uint64_t in_register(std::uint64_t mask) {
    __asm__("" : "+r"(mask));
    return mask;
}

// a & ~b, in a general register (see in_register).
inline std::uint64_t and_not(std::uint64_t a, std::uint64_t b) {
    std::uint64_t result;
    __asm__("andn %2, %1, %0" : "=r"(result) : "r"(b), "r"(a));
    return result;
}

template <typename rules>
std::size_t wrap_blocks64(const unsigned char* in, std::size_t size, unsigned char*& out_ref,
                          std::int32_t& room_ref, std::int32_t line_length) {
    constexpr std::int32_t near_end = rules::near_end;
    if (line_length < 64 + near_end) return rules::narrow(in, size, out_ref, room_ref, line_length);
    if (size < 64 + 1) return 0;
    const unsigned char* p = in;
    const unsigned char* const last = in + size - 64 - 1;
    unsigned char* out = out_ref;
    std::int32_t room = room_ref;
    std::uint64_t cr_written = 0;  // the block before ended in the CR of an LF here
    while (p <= last) {
        if (room <= near_end && cr_written == 0) {
            room = rules::step(*p++, room, line_length, out);
            continue;
        }
        __m512i v = load(p);
        std::uint64_t crs = in_register(equal(v, cr)), lfs = in_register(equal(v, lf));
        _mm512_storeu_si512(out, v);
        std::uint64_t breaks = crs | lfs;
        if (breaks == 0) {  // the room then owes nothing to the bytes
            if (room >= 64 + near_end) {
                p += 64;
                out += 64;
                room -= 64;
                continue;
            }
            auto fits = static_cast<std::size_t>(room - near_end);
            if (fits < 62) {  // the line fills up here
                std::size_t at = fits + rules::before_break(p + fits);
                p += at;
                out = rules::put_break(out + at);
                room = line_length;
            } else {
                p += fits;
                out += fits;
                room = near_end;
            }
            continue;
        }
        std::uint64_t across = (crs >> 63) & static_cast<std::uint64_t>(p[64] == lf);
        std::uint64_t lone_cr = and_not(and_not(crs, lfs >> 1), across << 63);
        std::uint64_t bare_lf = and_not(lfs, (crs << 1) | cr_written);
        auto first_line = static_cast<std::int32_t>(__builtin_ctzll(breaks));
        std::int32_t room_left = room - near_end;
        auto full = static_cast<std::size_t>(room_left < 0 ? 0 : room_left < 62 ? room_left : 61);
        bool fills = first_line > room_left;  // before the block's first line break
        bool clear = (cr_written == 0) & (room_left < 62) & (((breaks >> full) & 7u) == 0);
        if (((lone_cr | bare_lf) == 0) & (!fills | clear)) {
            // The whole block, its lines all fitting but perhaps the first,
            // which then fills up here with no line break near: its break is
            // placed and the rest of the block moved after it. Lines of text
            // fill up at random, so the two are told apart by masks, not by a
            // branch, and the next block is always the next 64 bytes. When the
            // lines fit, the break is written past the block, where the next
            // block's bytes overwrite it.
            std::uint64_t choose = 0 - static_cast<std::uint64_t>(fills);
            std::size_t at = 64 ^ ((64 ^ (full + rules::before_break(p + full))) & choose);
            auto break_size = static_cast<std::size_t>(rules::put_break(out + at) - (out + at));
            std::size_t moved = break_size & choose;
            _mm512_mask_storeu_epi8(out + moved, ~_bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(at)), v);
            // After the last LF a new line (no LF: the line goes on, from its
            // break if it has one); after a CR across, the LF that follows
            // starts one anyway.
            auto line_start = static_cast<std::int32_t>(lfs != 0 ? 64 - __builtin_clzll(lfs) : at & choose);
            room = (lfs != 0 || fills ? line_length : room) - (64 - line_start);
            cr_written = across;
            p += 64;
            out += 64 + moved;
            continue;
        }
        if (cr_written != 0) {  // the LF of that CR, in place at out
            cr_written = 0;
            room = line_length;
            ++p;
            ++out;
            continue;
        }
        auto fits = static_cast<std::size_t>(room - near_end);
        std::uint64_t stops = fits < 64 ? breaks & ((std::uint64_t{1} << fits) - 1) : breaks;
        if (stops == 0) {
            if (fits < 62 && ((breaks >> fits) & 7u) == 0) {  // the line fills up here
                std::size_t at = fits + rules::before_break(p + fits);
                p += at;
                out = rules::put_break(out + at);
                room = line_length;
                continue;
            }
            std::size_t k = fits < 64 ? fits : 64;
            p += k;
            out += k;
            room -= static_cast<std::int32_t>(k);
            continue;
        }
        auto j = static_cast<std::size_t>(__builtin_ctzll(stops));
        p += j;
        out += j;
        room -= static_cast<std::int32_t>(j);
        room = rules::step(*p++, room, line_length, out);
    }
    if (cr_written != 0) {
        *out++ = lf;
        ++p;
        room = line_length;
    }
    room_ref = room;
    out_ref = out;
    return static_cast<std::size_t>(p - in);
}

// }==============================================================================

}  // namespace

extern const kernel_table avx512_kernels{b64_blocks,   unb64_blocks, qp_blocks64,  unqp_blocks64,
                                         wrap_blocks64<qpwrp_rules>, wrap_blocks64<wrp_rules>, eol_blocks64, dot_blocks,
                                       eol_clean_blocks};

}  // namespace mime
