#include "filters/eol.hpp"

#include <cstdint>
#include <cstring>

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "kernels/kernels.hpp"

namespace mime {

namespace {

bool is_cr_lf(byte_span line_end) {
    return line_end.size == 2 && line_end.data[0] == cr && line_end.data[1] == lf;
}

}  // namespace

unsigned char* eol_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int64_t last_break = state.state;
    // The kernel takes `out` and the state themselves, not copies (run_kernel): with
    // copies this loop ran some 8% slower on bare-LF text, though with fewer
    // instructions.
    if (auto lines = kernels().eol) in += lines(in, size, out, last_break, state.line_end);
    const bool pairs = is_cr_lf(state.line_end);
    const unsigned char* const first = in;
    while (in < end) {
        if (pairs && last_break == 0 && in != first && in[-1] != cr) {
            // With no CR standing alone, each LF gives one line end and CRs none but
            // the one written before each LF: eight bytes at a time, CR LF pairs
            // copied, and a CR written before each LF that has none.
            const unsigned char* const fast = in;
            while (end - in >= 9) {
                std::uint64_t word = load_word(in);
                std::uint64_t lone_cr = word_equal(word, cr) & ~word_equal(load_word(in + 1), lf);
                if (lone_cr != 0) break;
                std::uint64_t bare_lf = word_equal(word, lf) & ~word_equal(load_word(in - 1), cr);
                std::memcpy(out, &word, 8);
                if (bare_lf == 0) {
                    in += 8;
                    out += 8;
                    continue;
                }
                std::size_t k = first_marked(bare_lf);
                out[k] = cr;
                out[k + 1] = lf;
                in += k + 1;
                out += k + 2;
            }
            if (in != fast) {
                if (in[-1] == cr) {  // copied as it is: its LF, which follows, too
                    *out++ = lf;
                    ++in;
                }
                // The step's state: 0 where a byte that is no break stood (or where
                // this began), then what the breaks after it leave.
                const unsigned char* run = in;
                while (run > fast && (run[-1] == cr || run[-1] == lf)) --run;
                unsigned char scratch[4];
                for (; run < in; ++run) {
                    unsigned char* ignored = scratch;
                    last_break = eol_push_char(*run, last_break, state.line_end, ignored);
                }
                continue;
            }
        }
        // Bytes other than CR and LF, up to the next CR or LF.
        const unsigned char* start = in;
        copy_to_line_break(in, end, out);  // room: at least a byte for each byte read
        if (in != start) last_break = 0;
        if (in == end) break;
        if (pairs && last_break == 0 && *in == cr && end - in >= 2 && in[1] == lf) {
            // CR LF, which gives itself.
            out[0] = cr;
            out[1] = lf;
            out += 2;
            in += 2;
            continue;
        }
        last_break = eol_push_char(*in++, last_break, state.line_end, out);
    }
    state.state = last_break;
    return out;
}

// With the line end CR LF and no break pending, text whose every CR is followed
// by LF and every LF follows a CR gives itself (each LF gives one line end, and
// the state ends at 0).
bool eol_unchanged(filter_state& state, const unsigned char* in, std::size_t size) {
    if (state.state != 0 || !is_cr_lf(state.line_end) || size == 0) return false;
    const unsigned char* const end = in + size;
    if (in[0] == lf || end[-1] == cr || (in[0] == cr && in[1] != lf)) return false;
    std::size_t checked = 1;
    if (auto clean = kernels().eol_clean) checked = clean(in, size);
    const unsigned char* p = in + (checked > 1 ? checked : 1);
    // Eight bytes at a time, against the bytes either side of them.
    for (; end - p >= 9; p += 8) {
        std::uint64_t word = load_word(p);
        std::uint64_t lone_cr = word_equal(word, cr) & ~word_equal(load_word(p + 1), lf);
        std::uint64_t bare_lf = word_equal(word, lf) & ~word_equal(load_word(p - 1), cr);
        if ((lone_cr | bare_lf) != 0) return false;
    }
    for (; p < end; ++p) {
        if (*p == cr && p[1] != lf) return false;  // the last byte is no CR
        if (*p == lf && p[-1] != cr) return false;
    }
    return true;
}

std::size_t eol_bound(const filter_state& state, std::size_t size) {
    std::size_t per_byte = state.line_end.size > 1 ? state.line_end.size : 1;
    return size_bound(size, per_byte, kernel_overrun);
}

const char* eol_end_of_stream(filter_state& state) {
    state.state = 0;
    return nullptr;
}

}  // namespace mime
