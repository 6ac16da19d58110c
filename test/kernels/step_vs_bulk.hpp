// The one check that a core's bulk routine gives exactly what its per-byte step
// gives: from the same state, over the same bytes, the same output and the same
// state after. The bulk routine reads its input from a block of its own and
// writes into a block of exactly the size its bound promises, with guard bytes
// after it (and AddressSanitizer, where it runs, watching both blocks). The
// first difference aborts with a description. Used by the kernel differential
// test (test/kernels/differential.cpp) and the core fuzzer (fuzz/fuzz_cores.cpp),
// each with every kernel set the CPU runs; the C++ hosts take their expected
// results from the steps here too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/decisions.hpp"
#include "codec/b64.hpp"
#include "codec/qp.hpp"
#include "codec/qpwrp.hpp"
#include "codec/unb64.hpp"
#include "codec/unqp.hpp"
#include "filters/dot.hpp"
#include "filters/eol.hpp"
#include "filters/wrp.hpp"
#include "kernels/kernels.hpp"

namespace check {

using bytes = std::string;

enum which : unsigned { B64, UNB64, QP, UNQP, QPWRP, WRP, EOL, DOT, FILTER_COUNT };

inline const char* const filter_names[FILTER_COUNT] = {"b64", "unb64", "qp", "unqp",
                                                        "qpwrp", "wrp", "eol", "dot"};

inline bool is_codec(which w) { return w <= UNQP; }

inline const mime::codec& codec_of(which w) {
    static const mime::codec* const codecs[] = {&mime::b64_codec, &mime::unb64_codec, &mime::qp_codec,
                                                &mime::unqp_codec};
    return *codecs[w];
}

inline const mime::line_filter& filter_of(which w) {
    static const mime::line_filter* const filters[] = {&mime::qpwrp_filter, &mime::wrp_filter,
                                                       &mime::eol_filter, &mime::dot_filter};
    return *filters[w - QPWRP];
}

inline mime::byte_span span_of(const bytes& b) {
    return {reinterpret_cast<const unsigned char*>(b.data()), b.size()};
}

inline const unsigned char* data_of(const bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

// What a core carries between chunks, in either shape. The line end is the
// caller's string, which must outlive it.
struct carry {
    mime::codec_state codec;
    mime::filter_state filter;
};

inline carry start(std::int64_t state, std::int32_t line_length, const bytes& line_end) {
    carry c{};
    c.codec.line_end = c.filter.line_end = span_of(line_end);
    c.filter.state = state;
    c.filter.line_length = line_length;
    return c;
}

// The pending bytes of a codec: the remainder a Lua caller gets.
inline bytes remainder(const carry& c) { return bytes(reinterpret_cast<const char*>(c.codec.group), c.codec.count); }

inline bool same_state(which w, const carry& a, const carry& b) {
    if (is_codec(w)) return remainder(a) == remainder(b);
    return a.filter.state == b.filter.state;
}

// C-style escapes, the first `limit` bytes.
inline std::string shown(const bytes& b, std::size_t limit = 400) {
    std::string s;
    char hex[8];
    for (std::size_t i = 0; i < b.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(b[i]);
        if (c == '\\' || c == '"' || c < 32 || c >= 127) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            s += hex;
        } else {
            s += static_cast<char>(c);
        }
    }
    if (b.size() > limit) s += "...";
    return "\"" + s + "\"";
}

inline std::string show_state(which w, const carry& c) {
    if (is_codec(w)) return "pending " + shown(remainder(c));
    return "state " + std::to_string(c.filter.state) + ", line length " + std::to_string(c.filter.line_length);
}

// The kernel set that reports name: the one last chosen with select().
inline const char* current_kernels = "default";

inline bool select(const mime::kernel_set& set) {
    if (!mime::use_kernels(set)) return false;
    if (&mime::kernels() != set.table) {  // else every set would run the default one
        std::fprintf(stderr, "%s chosen, but the bulk routines do not use it\n", set.name);
        std::abort();
    }
    current_kernels = set.name;
    return true;
}

[[noreturn]] inline void mismatch(which w, const char* what, const std::string& context, const bytes& expected,
                                  const bytes& got) {
    std::size_t at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at]) ++at;
    std::fprintf(stderr,
                 "MISMATCH in %s (kernels %s): %s\n  %s\n  expected %zu bytes: %s\n  got      %zu bytes: %s\n"
                 "  first difference at byte %zu\n",
                 filter_names[w], current_kernels, what, context.c_str(), expected.size(),
                 shown(expected).c_str(), got.size(), shown(got).c_str(), at);
    std::abort();
}

// ---------------------------------------------------------------- step (reference)

inline void step(which w, carry& c, const unsigned char* in, std::size_t n, bytes& out) {
    // The most one step writes: three escapes and two line ends.
    bytes scratch(64 + 2 * c.codec.line_end.size, '\0');
    auto* begin = reinterpret_cast<unsigned char*>(&scratch[0]);
    mime::codec_state& s = c.codec;
    mime::filter_state& f = c.filter;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char* p = begin;
        switch (w) {
        case B64: s.count = mime::b64_push_byte(in[i], s.group, s.count, p); break;
        case UNB64: s.count = mime::unb64_push_char(in[i], s.group, s.count, p); break;
        case QP: s.count = mime::qp_push_byte(in[i], s.group, s.count, s.line_end, p); break;
        case UNQP: s.count = mime::unqp_push_char(in[i], s.group, s.count, p); break;
        case QPWRP: f.state = mime::qpwrp_step(in[i], static_cast<std::int32_t>(f.state), f.line_length, p); break;
        case WRP: f.state = mime::wrp_step(in[i], static_cast<std::int32_t>(f.state), f.line_length, p); break;
        case EOL: f.state = mime::eol_push_char(in[i], f.state, f.line_end, p); break;
        default: f.state = mime::dot_step(in[i], f.state, p); break;
        }
        out.append(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(p - begin));
    }
}

// End of stream: an encoder flushes, a decoder discards, a line filter answers.
inline void finish(which w, carry& c, bytes& out) {
    if (!is_codec(w)) {
        if (const char* text = filter_of(w).end_of_stream(c.filter)) out += text;
        return;
    }
    unsigned char block[mime::finish_bound];
    unsigned char* end = block;
    if (codec_of(w).finish != nullptr) end = codec_of(w).finish(c.codec, block);
    c.codec.count = 0;
    out.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(end - block));
}

// ---------------------------------------------------------------- bulk, bounded

// The bulk routine over in[0, n), with the kernels of this thread: the input
// copied to a block of its own at offset `align`, the output written at offset
// `align` * 7 % 64 of a block holding exactly its bound, then 64 guard bytes.
inline void bulk(which w, carry& c, const unsigned char* in, std::size_t n, bytes& out, std::size_t align = 0) {
    constexpr std::size_t guard = 64;
    constexpr unsigned char guard_byte = 0xa5;
    std::size_t room = is_codec(w) ? codec_of(w).bound(c.codec, n) : filter_of(w).bound(c.filter, n);
    if (room > (std::size_t{1} << 30)) {
        std::fprintf(stderr, "%s: bound of %zu bytes for %zu input bytes\n", filter_names[w], room, n);
        std::abort();
    }
    std::size_t at = align * 7 % 64;
    auto* input = static_cast<unsigned char*>(std::malloc(n + align + 1));
    auto* block = static_cast<unsigned char*>(std::malloc(at + room + guard));
    if (n != 0) std::memcpy(input + align, in, n);
    std::memset(block + at + room, guard_byte, guard);
    unsigned char* begin = block + at;
    unsigned char* end = is_codec(w) ? codec_of(w).bulk(c.codec, input + align, n, begin)
                                     : filter_of(w).bulk(c.filter, input + align, n, begin);
    bool guard_intact = true;
    for (std::size_t i = 0; i < guard; ++i) guard_intact = guard_intact && begin[room + i] == guard_byte;
    if (end < begin || static_cast<std::size_t>(end - begin) > room || !guard_intact) {
        std::fprintf(stderr, "%s (kernels %s): bulk wrote past its bound of %zu bytes for %zu input bytes\n",
                     filter_names[w], current_kernels, room, n);
        std::abort();
    }
    out.append(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin));
    std::free(block);
    std::free(input);
}

// ---------------------------------------------------------------- the check

// From the state in `c`, the bulk routine over in[0, n) gives the bytes and the
// state that the step gives; `c` moves on as the step left it. Returns the output.
inline bytes step_vs_bulk(which w, carry& c, const unsigned char* in, std::size_t n, const std::string& where,
                          std::size_t align = 0) {
    carry by_step = c, by_bulk = c;
    bytes want, got;
    step(w, by_step, in, n, want);
    bulk(w, by_bulk, in, n, got, align);
    if (want != got || !same_state(w, by_step, by_bulk)) {
        std::string context = where + "; before: " + show_state(w, c) + "; after, step: " + show_state(w, by_step) +
                              ", bulk: " + show_state(w, by_bulk) + "; line end " +
                              shown(bytes(reinterpret_cast<const char*>(c.codec.line_end.data), c.codec.line_end.size)) +
                              "\n  input " + std::to_string(n) + " bytes: " + shown(bytes(reinterpret_cast<const char*>(in), n));
        mismatch(w, "bulk against step", context, want, got);
    }
    mime::filter_state as_is = c.filter;
    if (!is_codec(w) && filter_of(w).unchanged != nullptr && filter_of(w).unchanged(as_is, in, n) &&
        (want != bytes(reinterpret_cast<const char*>(in), n) || as_is.state != by_step.filter.state))
        mismatch(w, "unchanged against step", where, want, bytes(reinterpret_cast<const char*>(in), n));
    c = by_step;
    return want;
}

}  // namespace check
