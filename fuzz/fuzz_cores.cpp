// Fuzzer for the Lua-free cores. Input: a filter, its state, its line length, its
// line end and the chunk sizes, then the data. Every run checks
//   - the bulk routine against the step, chunk by chunk (output and state), with
//     the bulk writing into a block of exactly its bound;
//   - chunked against whole: one bulk call over all the data, and the chunk-by-
//     chunk calls a Lua caller makes (fresh state, carry, chunk), give the same;
//   - the round trips that hold for every input:
//       unb64(wrp(b64(x))) == x            for every line length,
//       unqp(qpwrp(qp(x))) == x            line end CR LF, line length 4 or more,
//       eol(eol(x)) == eol(x)              line ends CR LF, LF, CR, LF CR or any
//                                          without CR and LF.
// and aborts on the first difference.
#include <vector>

#include "drive.hpp"

using namespace fuzz;

namespace {

struct piece {
    std::size_t offset, size;
};

std::vector<piece> split(const chunking& c, std::size_t total) {
    std::vector<piece> pieces;
    if (c.count == 0) {
        pieces.push_back({0, total});
        return pieces;
    }
    std::size_t at = 0;
    unsigned i = 0, empties = 0;
    while (at < total) {
        std::size_t n = c.next(i);
        if (n == 0 && ++empties > 16) n = total - at;
        if (n > total - at) n = total - at;
        pieces.push_back({at, n});
        at += n;
    }
    if (pieces.empty()) pieces.push_back({0, 0});
    return pieces;
}

void check_codec(which w, const bytes& line_end, const std::vector<piece>& pieces,
                 const unsigned char* data, std::size_t size) {
    // Step against bulk with one state carried through the chunks.
    mime::codec_state by_step{}, by_bulk{};
    by_step.line_end = by_bulk.line_end = span_of(line_end);
    bytes step_out, bulk_out;
    for (const piece& p : pieces) {
        bytes a, b;
        step_codec(w, by_step, data + p.offset, p.size, a);
        bulk_codec(w, by_bulk, data + p.offset, p.size, b);
        expect_same("bulk against step, one chunk", w, a, b);
        expect_same("pending bytes after a chunk", w, group_of(by_step), group_of(by_bulk));
        step_out += a;
        bulk_out += b;
    }
    finish_codec(w, by_step, step_out);
    finish_codec(w, by_bulk, bulk_out);
    expect_same("after the end of stream", w, step_out, bulk_out);

    // One bulk call over the whole stream.
    mime::codec_state whole{};
    whole.line_end = span_of(line_end);
    bytes whole_out;
    bulk_codec(w, whole, data, size, whole_out);
    finish_codec(w, whole, whole_out);
    expect_same("whole against chunked", w, step_out, whole_out);

    // The calls a Lua caller makes: each starts afresh with the carry, then the chunk.
    bytes carry, calls_out;
    for (const piece& p : pieces) {
        mime::codec_state call{};
        call.line_end = span_of(line_end);
        bulk_codec(w, call, reinterpret_cast<const unsigned char*>(carry.data()), carry.size(),
                   calls_out);
        bulk_codec(w, call, data + p.offset, p.size, calls_out);
        carry = group_of(call);
        if (carry.size() > 3) fail_state("remainder longer than 3 bytes", w, 3, carry.size());
    }
    mime::codec_state last{};
    last.line_end = span_of(line_end);
    bulk_codec(w, last, reinterpret_cast<const unsigned char*>(carry.data()), carry.size(),
               calls_out);
    finish_codec(w, last, calls_out);
    expect_same("calls with carry against whole", w, step_out, calls_out);
}

void check_filter(which w, std::int64_t state, std::int32_t line_length, const bytes& line_end,
                  const std::vector<piece>& pieces, const unsigned char* data, std::size_t size) {
    mime::filter_state by_step{state, line_length, span_of(line_end)};
    mime::filter_state by_bulk = by_step;
    bytes step_out, bulk_out;
    for (const piece& p : pieces) {
        bytes a, b;
        step_filter(w, by_step, data + p.offset, p.size, a);
        bulk_filter(w, by_bulk, data + p.offset, p.size, b);
        expect_same("bulk against step, one chunk", w, a, b);
        if (by_step.state != by_bulk.state)
            fail_state("state after a chunk", w, by_step.state, by_bulk.state);
        step_out += a;
        bulk_out += b;
    }
    mime::filter_state whole{state, line_length, span_of(line_end)};
    bytes whole_out;
    bulk_filter(w, whole, data, size, whole_out);
    expect_same("whole against chunked", w, step_out, whole_out);
    if (whole.state != by_step.state) fail_state("state, whole against chunked", w, by_step.state, whole.state);
    bytes end_a, end_b;
    end_filter(w, by_step, end_a);
    end_filter(w, whole, end_b);
    expect_same("end of stream", w, end_a, end_b);
    if (whole.state != by_step.state) fail_state("state after the end", w, by_step.state, whole.state);
}

// Whole-stream helpers for the round trips (bulk, bounded).
bytes encode(which w, const bytes& in, const bytes& line_end) {
    mime::codec_state s{};
    s.line_end = span_of(line_end);
    bytes out;
    bulk_codec(w, s, reinterpret_cast<const unsigned char*>(in.data()), in.size(), out);
    finish_codec(w, s, out);
    return out;
}

bytes wrap(which w, std::int64_t state, std::int32_t line_length, const bytes& line_end, const bytes& in,
           const std::vector<piece>& pieces) {
    mime::filter_state s{state, line_length, span_of(line_end)};
    bytes out;
    // Chunk boundaries of the encoded text follow the fuzzer's sizes too.
    std::size_t at = 0;
    for (const piece& p : pieces) {
        if (at >= in.size()) break;
        std::size_t n = p.size < in.size() - at ? p.size : in.size() - at;
        bulk_filter(w, s, reinterpret_cast<const unsigned char*>(in.data()) + at, n, out);
        at += n;
    }
    bulk_filter(w, s, reinterpret_cast<const unsigned char*>(in.data()) + at, in.size() - at, out);
    end_filter(w, s, out);
    return out;
}

void check_round_trips(std::int32_t line_length, std::int64_t eol_state, const bytes& line_end,
                       const std::vector<piece>& pieces, const bytes& x) {
    const bytes crlf = "\r\n";
    // Base64 wrapped at any line length, even 0 or negative (a break before every
    // character): the decoder skips the breaks.
    bytes wrapped = wrap(WRP, line_length, line_length, crlf, encode(B64, x, crlf), pieces);
    expect_same("unb64(wrp(b64(x))) == x", UNB64, x, encode(UNB64, wrapped, crlf));

    // Quoted-printable wrapped at 4 or more: an escape and the "=" of a soft break
    // need that much room.
    std::int32_t qp_length = line_length >= 4 ? line_length : 4 + static_cast<std::int32_t>(
                                                                      static_cast<std::uint32_t>(line_length) % 97);
    bytes soft = wrap(QPWRP, qp_length, qp_length, crlf, encode(QP, x, crlf), pieces);
    expect_same("unqp(qpwrp(qp(x))) == x", UNQP, x, encode(UNQP, soft, crlf));

    // The normal form of line ends is a fixed point, from any state, for line ends
    // that are one break (or hold no CR nor LF).
    bool break_free = line_end.find_first_of("\r\n") == bytes::npos;
    if (break_free || line_end == "\r\n" || line_end == "\n" || line_end == "\r" || line_end == "\n\r") {
        bytes once = wrap(EOL, eol_state, 0, line_end, x, pieces);
        bytes twice = wrap(EOL, 0, 0, line_end, once, pieces);
        expect_same("eol(eol(x)) == eol(x)", EOL, once, twice);
    }
}

}  // namespace

// Names the kernel sets this run compares, once, at start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::fprintf(stderr, "kernel sets compared with the steps:");
    for (const kernel_choice& k : kernel_choices()) std::fprintf(stderr, " %s", k.name());
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
    chunking c = pick_chunking(r);
    const unsigned char* data = r.p;
    std::size_t size = r.n;
    std::vector<piece> pieces = split(c, size);
    bytes x(reinterpret_cast<const char*>(data), size);

    // The step functions are the reference for every kernel set's bulk routines.
    for (const kernel_choice& k : kernel_choices()) {
        k.select();
        if (is_codec(w))
            check_codec(w, line_end, pieces, data, size);
        else
            check_filter(w, state, line_length, line_end, pieces, data, size);
        check_round_trips(line_length, state, line_end, pieces, x);
    }
    default_kernels();
    return 0;
}
