// Fuzzer for the Lua-free cores. Input: a filter, its state, its line length, its
// line end and the chunk sizes, then the data. With every kernel set the CPU
// runs, every run checks
//   - the bulk routine against the step, chunk by chunk (output and state), with
//     the bulk writing into a block of exactly its bound (test/kernels/step_vs_bulk.hpp);
//   - chunked against whole: one bulk call over all the data, and the chunk-by-
//     chunk calls a Lua caller makes (fresh state, carry, chunk), give the same;
//   - the round trips that hold for every input:
//       unb64(wrp(b64(x))) == x            for every line length,
//       unqp(qpwrp(qp(x))) == x            line end CR LF, line length 4 or more,
//       eol(eol(x)) == eol(x)              line ends CR LF, LF, CR, LF CR or any
//                                          without CR and LF.
// and aborts on the first difference.
#include <vector>

#include "step_vs_bulk.hpp"

using namespace check;

namespace {

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
std::int64_t pick_number(reader& r, which w) {
    static const std::int64_t interesting[] = {
        0, 1, 2, 3, 4, 5, 76, -1, -2, -3, 10, 13, 1000,
        INT32_MAX, INT32_MAX - 1, INT32_MIN, INT32_MIN + 1, INT32_MIN + 2, INT32_MIN + 3,
        INT64_MAX, INT64_MIN, 266, 269, 0xffffffffll};
    constexpr unsigned count = sizeof interesting / sizeof interesting[0];
    unsigned selector = r.byte();
    std::int64_t v = selector < 0xf0 ? interesting[selector % count] : static_cast<std::int64_t>(r.raw64());
    switch (w) {
    case EOL: return v;  // 64-bit, as read
    case DOT: return static_cast<std::int64_t>(static_cast<std::uint32_t>(v));
    default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
}

bytes pick_line_end(reader& r) {
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

struct piece {
    std::size_t offset, size;
};

// Chunk sizes, used in turn until the data runs out; none means one chunk.
std::vector<std::size_t> pick_sizes(reader& r) {
    std::vector<std::size_t> sizes(r.byte() % 9);
    for (std::size_t& size : sizes) {
        unsigned b = r.byte();
        size = b < 0xc0 ? b % 24 : (b - 0xc0) * 97 + 1;  // mostly small, some large
    }
    return sizes;
}

std::vector<piece> split(const std::vector<std::size_t>& sizes, std::size_t total) {
    if (sizes.empty()) return {{0, total}};
    std::vector<piece> pieces;
    std::size_t at = 0;
    unsigned i = 0, empties = 0;
    while (at < total) {
        std::size_t n = sizes[i++ % sizes.size()];
        if (n == 0 && ++empties > 16) n = total - at;
        if (n > total - at) n = total - at;
        pieces.push_back({at, n});
        at += n;
    }
    if (pieces.empty()) pieces.push_back({0, 0});
    return pieces;
}

// ---------------------------------------------------------------- checks

void expect_same(const char* what, which w, const bytes& expected, const bytes& got) {
    if (expected != got) mismatch(w, what, "", expected, got);
}

void check_stream(which w, const carry& first, const std::vector<piece>& pieces, const bytes& x) {
    // Step against bulk with one state carried through the chunks.
    carry c = first;
    bytes step_out;
    for (const piece& p : pieces)
        step_out += step_vs_bulk(w, c, data_of(x) + p.offset, p.size,
                                 "chunk at " + std::to_string(p.offset), p.offset % 64);

    // One bulk call over the whole stream.
    carry whole = first;
    bytes whole_out;
    bulk(w, whole, data_of(x), x.size(), whole_out);
    if (!is_codec(w) && whole.filter.state != c.filter.state)
        mismatch(w, "state, whole against chunked", "", std::to_string(c.filter.state),
                 std::to_string(whole.filter.state));
    finish(w, c, step_out);
    finish(w, whole, whole_out);
    expect_same("whole against chunked", w, step_out, whole_out);
    if (!is_codec(w)) return;

    // The calls a Lua caller makes: each starts afresh with the carry, then the chunk.
    bytes carried, calls_out;
    for (const piece& p : pieces) {
        carry call = first;
        bulk(w, call, data_of(carried), carried.size(), calls_out);
        bulk(w, call, data_of(x) + p.offset, p.size, calls_out);
        carried = remainder(call);
        if (carried.size() > 3) mismatch(w, "remainder longer than 3 bytes", "", "", carried);
    }
    carry last = first;
    bulk(w, last, data_of(carried), carried.size(), calls_out);
    finish(w, last, calls_out);
    expect_same("calls with carry against whole", w, step_out, calls_out);
}

// A whole stream through one core (bulk), chunked as the fuzzer's pieces say.
bytes through(which w, std::int64_t state, std::int32_t line_length, const bytes& line_end, const bytes& in,
              const std::vector<piece>& pieces) {
    carry c = start(state, line_length, line_end);
    bytes out;
    std::size_t at = 0;
    for (const piece& p : pieces) {
        if (at >= in.size()) break;
        std::size_t n = p.size < in.size() - at ? p.size : in.size() - at;
        bulk(w, c, data_of(in) + at, n, out);
        at += n;
    }
    bulk(w, c, data_of(in) + at, in.size() - at, out);
    finish(w, c, out);
    return out;
}

void check_round_trips(std::int32_t line_length, std::int64_t eol_state, const bytes& line_end,
                       const std::vector<piece>& pieces, const bytes& x) {
    const bytes crlf = "\r\n";
    // Base64 wrapped at any line length, even 0 or negative (a break before every
    // character): the decoder skips the breaks.
    bytes wrapped = through(WRP, line_length, line_length, crlf, through(B64, 0, 0, crlf, x, pieces), pieces);
    expect_same("unb64(wrp(b64(x))) == x", UNB64, x, through(UNB64, 0, 0, crlf, wrapped, pieces));

    // Quoted-printable wrapped at 4 or more: an escape and the "=" of a soft break
    // need that much room.
    std::int32_t qp_length =
        line_length >= 4 ? line_length : 4 + static_cast<std::int32_t>(static_cast<std::uint32_t>(line_length) % 97);
    bytes soft = through(QPWRP, qp_length, qp_length, crlf, through(QP, 0, 0, crlf, x, pieces), pieces);
    expect_same("unqp(qpwrp(qp(x))) == x", UNQP, x, through(UNQP, 0, 0, crlf, soft, pieces));

    // The normal form of line ends is a fixed point, from any state, for line ends
    // that are one break (or hold no CR nor LF).
    bool break_free = line_end.find_first_of("\r\n") == bytes::npos;
    if (break_free || line_end == "\r\n" || line_end == "\n" || line_end == "\r" || line_end == "\n\r") {
        bytes once = through(EOL, eol_state, 0, line_end, x, pieces);
        bytes twice = through(EOL, 0, 0, line_end, once, pieces);
        expect_same("eol(eol(x)) == eol(x)", EOL, once, twice);
    }
}

}  // namespace

// Names the kernel sets this run compares, once, at start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::fprintf(stderr, "kernel sets compared with the steps:");
    for (const mime::kernel_set& set : mime::kernel_sets())
        if (mime::kernel_available(set)) std::fprintf(stderr, " %s", set.name);
    std::fprintf(stderr, "\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t input_size) {
    reader r{input, input_size};
    which w = static_cast<which>(r.byte() % FILTER_COUNT);
    std::int64_t state = pick_number(r, w);
    std::int32_t line_length = static_cast<std::int32_t>(pick_number(r, WRP));
    bytes line_end = pick_line_end(r);
    if (w == QP && r.byte() % 4 != 0) line_end = "\r\n";  // mostly the usual line end
    std::vector<std::size_t> sizes = pick_sizes(r);
    bytes x(reinterpret_cast<const char*>(r.p), r.n);
    std::vector<piece> pieces = split(sizes, x.size());

    // The step functions are the reference for every kernel set's bulk routines.
    for (const mime::kernel_set& set : mime::kernel_sets()) {
        if (!select(set)) continue;
        check_stream(w, start(is_codec(w) ? 0 : state, line_length, line_end), pieces, x);
        check_round_trips(line_length, state, line_end, pieces, x);
    }
    mime::use_default_kernels();
    return 0;
}
