// The decisions that the portable code of a core and its kernels both take,
// written once: a kernel copies what needs no decision a block at a time and
// calls these where one is needed.
//
// Internal linkage (see base/write.hpp): each kernel file compiles its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/shapes.hpp"
#include "base/write.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

// {============================================================== quoted-printable

// The encoder's decision on the byte at s[0], with `available` bytes at hand
// from s: writes what it becomes and returns how many bytes that took (1, or 2
// or 3 with the CR LF behind it), or 0 when the decision needs more look-ahead
// (a CR waits for one more byte, a space or tab for two).
inline std::size_t qp_decide(const unsigned char* s, std::size_t available, byte_span line_end,
                             unsigned char*& out) {
    unsigned char first = s[0];
    switch (qp_char_class[first]) {
    case literal:
        *out++ = first;
        return 1;
    case carriage_return:
        if (available < 2) return 0;
        if (s[1] == lf) {
            out = put(out, line_end);
            return 2;
        }
        out = put_escape(out, first);
        return 1;
    case whitespace:
        if (available < 3) return 0;
        if (s[1] == cr && s[2] == lf) {
            out = put(put_escape(out, first), line_end);
            return 3;
        }
        *out++ = first;
        return 1;
    default:
        out = put_escape(out, first);
        return 1;
    }
}

// The decoder's "=" with its two bytes at hand: a soft line break gives nothing,
// an escape its byte, anything else the three bytes unchanged.
inline unsigned char* unqp_equals(const unsigned char* g, unsigned char* out) {
    if (g[1] == cr && g[2] == lf) return out;
    unsigned high = qp_hex_value[g[1]], low = qp_hex_value[g[2]];
    if (high != no_value && low != no_value) {
        *out++ = static_cast<unsigned char>(high << 4 | low);
        return out;
    }
    out[0] = g[0];
    out[1] = g[1];
    out[2] = g[2];
    return out + 3;
}

// }==============================================================================

// {============================================================== line wrappers

// A wrapper breaks the line before a byte when `room` is at or below its
// threshold: `wrp` when the line is full; `qpwrp` one place earlier, keeping a
// place for the "=" of its soft break, and three places earlier before "=", so
// that the digits of an escape never go to the next line.
inline constexpr std::int32_t wrp_full = 0;
inline constexpr std::int32_t qpwrp_full = 1;
inline constexpr std::int32_t qpwrp_full_before_escape = 3;

// One character placed on a line: `room` goes down by one, but never below the
// smallest 32-bit value (reachable only with a line length near it).
inline std::int32_t room_after_one(std::int32_t room) {
    return room == INT32_MIN ? room : room - 1;
}

// Places one byte; returns the new room. LF gives a hard break, CR is dropped.
inline std::int32_t wrp_step(unsigned char byte, std::int32_t room, std::int32_t line_length,
                             unsigned char*& out) {
    if (byte == lf) {
        out = put_hard_break(out);
        return line_length;
    }
    if (byte == cr) return room;
    if (room <= wrp_full) {
        out = put_hard_break(out);
        room = line_length;
    }
    *out++ = byte;
    return room_after_one(room);
}

inline std::int32_t qpwrp_step(unsigned char byte, std::int32_t room, std::int32_t line_length,
                               unsigned char*& out) {
    if (byte == lf) {
        out = put_hard_break(out);
        return line_length;
    }
    if (byte == cr) return room;
    if (room <= (byte == '=' ? qpwrp_full_before_escape : qpwrp_full)) {
        out = put_soft_break(out);
        room = line_length;
    }
    *out++ = byte;
    return room_after_one(room);
}

// }==============================================================================

// {============================================================== line ends

// The end-of-line normaliser: returns the new last_break (CR or LF when that byte
// has just given a line end, else 0).
inline std::int64_t eol_push_char(unsigned char byte, std::int64_t last_break, byte_span line_end,
                                  unsigned char*& out) {
    bool is_break = byte == cr || byte == lf;
    if (!is_break) {
        *out++ = byte;
        return 0;
    }
    if (last_break != cr && last_break != lf) {
        out = put(out, line_end);
        return byte;
    }
    if (last_break == byte) out = put(out, line_end);  // CR CR or LF LF: an empty line
    return 0;  // else the second half of a pair already written
}

// What dot-stuffing's `line_state` records.
enum : std::int64_t {
    inside_line = 0,
    after_cr = 1,
    line_start = 2,  // after CR LF, or at the start of the data
};

inline std::int64_t dot_line_state(unsigned char byte, std::int64_t line_state) {
    if (byte == cr) return after_cr;
    if (byte == lf && line_state == after_cr) return line_start;
    return inside_line;
}

// The line_state after the bytes before `end`, two or more of them: it depends on
// the last two alone.
inline std::int64_t dot_state_before(const unsigned char* end) {
    if (end[-1] == cr) return after_cr;
    return end[-1] == lf && end[-2] == cr ? line_start : inside_line;
}

// Writes the byte, and a second "." before a "." that opens a line; returns the
// new line_state.
inline std::int64_t dot_step(unsigned char byte, std::int64_t line_state, unsigned char*& out) {
    if (byte == '.' && line_state == line_start) *out++ = '.';
    *out++ = byte;
    return dot_line_state(byte, line_state);
}

// }==============================================================================

}  // namespace
}  // namespace mime
