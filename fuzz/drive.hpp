// Drives the Lua-free cores two ways, for the fuzzers: byte by byte through each
// filter's step function (the reference), and through its bulk routine into a
// heap buffer of exactly the size its bound promises, so that AddressSanitizer
// stops any write past the bound. Also parses the fuzzer's input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/b64.hpp"
#include "codec/qp.hpp"
#include "codec/qpwrp.hpp"
#include "codec/unb64.hpp"
#include "codec/unqp.hpp"
#include "filters/dot.hpp"
#include "filters/eol.hpp"
#include "filters/wrp.hpp"
#include "kernel_sets.hpp"
#include "module/stream.hpp"

namespace fuzz {

using bytes = std::string;

enum which : unsigned { B64, UNB64, QP, UNQP, QPWRP, WRP, EOL, DOT, FILTER_COUNT };

inline const char* const filter_names[FILTER_COUNT] = {"b64", "unb64", "qp", "unqp",
                                                        "qpwrp", "wrp", "eol", "dot"};

inline bool is_codec(which w) { return w <= UNQP; }

inline const mime::codec& codec_of(which w) {
    switch (w) {
    case B64: return mime::b64_codec;
    case UNB64: return mime::unb64_codec;
    case QP: return mime::qp_codec;
    default: return mime::unqp_codec;
    }
}

inline const mime::line_filter& filter_of(which w) {
    switch (w) {
    case QPWRP: return mime::qpwrp_filter;
    case WRP: return mime::wrp_filter;
    case EOL: return mime::eol_filter;
    default: return mime::dot_filter;
    }
}

// C-style escapes for a report.
inline std::string shown(const std::string& b) {
    std::string s;
    char hex[8];
    for (unsigned char c : b) {
        if (c == '\\' || c == '"') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c >= 32 && c < 127) {
            s += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            s += hex;
        }
    }
    return s;
}

[[noreturn]] inline void fail(const char* what, which w, const bytes& expected, const bytes& got) {
    std::fprintf(stderr, "MISMATCH in %s (kernels %s): %s\n  expected %zu bytes, got %zu bytes\n",
                 filter_names[w], current_kernels, what, expected.size(), got.size());
    std::size_t i = 0;
    while (i < expected.size() && i < got.size() && expected[i] == got[i]) ++i;
    std::fprintf(stderr, "  first difference at byte %zu\n", i);
    if (expected.size() <= 400 && got.size() <= 400) {
        std::fprintf(stderr, "  expected \"%s\"\n  got      \"%s\"\n", shown(expected).c_str(),
                     shown(got).c_str());
    }
    std::abort();
}

[[noreturn]] inline void fail_state(const char* what, which w, long long expected, long long got) {
    std::fprintf(stderr, "MISMATCH in %s (kernels %s): %s: expected %lld, got %lld\n", filter_names[w],
                 current_kernels, what, expected, got);
    std::abort();
}

inline void expect_same(const char* what, which w, const bytes& expected, const bytes& got) {
    if (expected != got) fail(what, w, expected, got);
}

// Scratch for one step: the most any step writes is three escapes and two line ends.
struct scratch {
    unsigned char* data;
    std::size_t size;
};

inline scratch make_scratch(const mime::byte_span& line_end) {
    std::size_t size = 64 + 2 * line_end.size;
    return {static_cast<unsigned char*>(std::malloc(size)), size};
}

inline void append(bytes& out, const unsigned char* begin, const unsigned char* end) {
    out.append(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin));
}

// ---------------------------------------------------------------- step (reference)

inline void step_codec(which w, mime::codec_state& s, const unsigned char* in, std::size_t n,
                       bytes& out) {
    scratch sc = make_scratch(s.line_end);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char* p = sc.data;
        switch (w) {
        case B64: s.count = mime::b64_push_byte(in[i], s.group, s.count, p); break;
        case UNB64: s.count = mime::unb64_push_char(in[i], s.group, s.count, p); break;
        case QP: s.count = mime::qp_push_byte(in[i], s.group, s.count, s.line_end, p); break;
        default: s.count = mime::unqp_push_char(in[i], s.group, s.count, p); break;
        }
        append(out, sc.data, p);
    }
    std::free(sc.data);
}

inline void step_filter(which w, mime::filter_state& s, const unsigned char* in, std::size_t n,
                        bytes& out) {
    scratch sc = make_scratch(s.line_end);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char* p = sc.data;
        switch (w) {
        case QPWRP:
            s.state = mime::qpwrp_step(in[i], static_cast<std::int32_t>(s.state), s.line_length, p);
            break;
        case WRP:
            s.state = mime::wrp_step(in[i], static_cast<std::int32_t>(s.state), s.line_length, p);
            break;
        case EOL: s.state = mime::eol_push_char(in[i], s.state, s.line_end, p); break;
        default: s.state = mime::dot_step(in[i], s.state, p); break;
        }
        append(out, sc.data, p);
    }
    std::free(sc.data);
}

// ---------------------------------------------------------------- bulk, bounded

// Runs `bulk` into a heap block of exactly bound(state, n) bytes.
template <class State, class Bulk, class Bound>
inline void bounded(which w, State& s, Bulk bulk, Bound bound, const unsigned char* in,
                    std::size_t n, bytes& out) {
    std::size_t room = bound(s, n);
    if (room > (std::size_t{1} << 30)) {
        std::fprintf(stderr, "%s: bound of %zu bytes for %zu input bytes\n", filter_names[w], room, n);
        std::abort();
    }
    // A copy of the input in its own block: reading past it is caught as well.
    unsigned char* input = static_cast<unsigned char*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(input, in, n);
    unsigned char* block = static_cast<unsigned char*>(std::malloc(room ? room : 1));
    unsigned char* end = bulk(s, input, n, block);
    if (end < block || static_cast<std::size_t>(end - block) > room) {
        std::fprintf(stderr, "%s: bulk wrote %td bytes, bound %zu\n", filter_names[w], end - block, room);
        std::abort();
    }
    append(out, block, end);
    std::free(block);
    std::free(input);
}

inline void bulk_codec(which w, mime::codec_state& s, const unsigned char* in, std::size_t n,
                       bytes& out) {
    const mime::codec& c = codec_of(w);
    bounded(w, s, c.bulk, c.bound, in, n, out);
}

inline void bulk_filter(which w, mime::filter_state& s, const unsigned char* in, std::size_t n,
                        bytes& out) {
    const mime::line_filter& f = filter_of(w);
    bounded(w, s, f.bulk, f.bound, in, n, out);
}

// End of stream of an encoder, into a block of exactly finish_bound bytes.
inline void finish_codec(which w, mime::codec_state& s, bytes& out) {
    const mime::codec& c = codec_of(w);
    if (c.finish == nullptr) {
        s.count = 0;
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(std::malloc(mime::finish_bound));
    unsigned char* end = c.finish(s, block);
    append(out, block, end);
    std::free(block);
}

inline void end_filter(which w, mime::filter_state& s, bytes& out) {
    const char* text = filter_of(w).end_of_stream(s);
    if (text != nullptr) out += text;
}

inline bytes group_of(const mime::codec_state& s) {
    return bytes(reinterpret_cast<const char*>(s.group), s.count);
}

inline mime::byte_span span_of(const bytes& b) {
    return {reinterpret_cast<const unsigned char*>(b.data()), b.size()};
}

// ---------------------------------------------------------------- input

struct reader {
    const unsigned char* p;
    std::size_t n;
    unsigned byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    std::uint64_t raw64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
};

// Values where the arithmetic of the state and the line length turns.
inline std::int64_t pick_number(reader& r, which w) {
    static const std::int64_t interesting[] = {
        0, 1, 2, 3, 4, 5, 76, -1, -2, -3, 10, 13, 1000,
        INT32_MAX, INT32_MAX - 1, INT32_MIN, INT32_MIN + 1, INT32_MIN + 2, INT32_MIN + 3,
        INT64_MAX, INT64_MIN, 266, 269, 0xffffffffll};
    constexpr unsigned count = sizeof interesting / sizeof interesting[0];
    unsigned selector = r.byte();
    std::int64_t v = selector < 0xf0 ? interesting[selector % count]
                                     : static_cast<std::int64_t>(r.raw64());
    switch (w) {
    case EOL: return v;                                           // 64-bit, as read
    case DOT: return static_cast<std::int64_t>(static_cast<std::uint32_t>(v));
    default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
}

inline bytes pick_line_end(reader& r) {
    unsigned selector = r.byte();
    switch (selector % 12) {
    case 0: case 1: case 2: return "\r\n";
    case 3: return "";
    case 4: return "\n";
    case 5: return "\r";
    case 6: return "\n\r";
    case 7: return "\r\r";
    case 8: return "XY";
    case 9: return bytes(200, 'L') + "\r\n";
    default: {
        bytes b;
        unsigned n = r.byte() % 17;
        for (unsigned i = 0; i < n; ++i) b += static_cast<char>(r.byte());
        return b;
    }
    }
}

// Chunk sizes, used in turn until the data runs out; none means one chunk.
struct chunking {
    std::size_t sizes[8];
    unsigned count;
    std::size_t next(unsigned& i) const { return sizes[i++ % count]; }
};

inline chunking pick_chunking(reader& r) {
    chunking c{};
    c.count = r.byte() % 9;
    for (unsigned i = 0; i < c.count; ++i) {
        unsigned b = r.byte();
        c.sizes[i] = b < 0xc0 ? b % 24 : (b - 0xc0) * 97 + 1;  // mostly small, some large
    }
    return c;
}

}  // namespace fuzz
