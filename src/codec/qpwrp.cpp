#include "codec/qpwrp.hpp"

#include <cstdint>
#include <cstring>

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "base/write.hpp"
#include "kernels/kernels.hpp"

namespace mime {

unsigned char* qpwrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                          unsigned char* out) {
    const unsigned char* end = in + size;
    std::int32_t room = static_cast<std::int32_t>(state.state);
    if (auto lines = kernels().qpwrp)
        in += run_kernel_with(lines, in, static_cast<std::size_t>(end - in), out, room, state.line_length);
    // While the line has room for an escape, every byte but CR and LF goes on it
    // as it is: eight at a time up to the first CR or LF, a CR LF then giving a
    // hard break; the step places the others (quoted-printable text has an "="
    // every few bytes, and its place near a full line matters).
    while (in < end) {
        if (end - in >= 8 && room > qpwrp_full_before_escape) {
            std::uint64_t word = load_word(in);
            std::uint64_t breaks = word_line_breaks(word);
            std::size_t run = breaks != 0 ? first_marked(breaks) : 8;
            auto fits = static_cast<std::size_t>(room - qpwrp_full_before_escape);
            if (run > fits) run = fits;
            std::memcpy(out, &word, 8);
            in += run;
            out += run;
            room -= static_cast<std::int32_t>(run);
            if (run == 8) continue;
            if (*in == cr && end - in >= 2 && in[1] == lf) {
                out = put_hard_break(out);
                room = state.line_length;
                in += 2;
                continue;
            }
        }
        unsigned char c = *in++;
        if (room > qpwrp_full_before_escape && c != cr && c != lf) {
            *out++ = c;
            --room;
        } else {
            room = qpwrp_step(c, room, state.line_length, out);
        }
    }
    state.state = room;
    return out;
}

std::size_t qpwrp_bound(const filter_state&, std::size_t size) {
    return size_bound(size, 4, kernel_overrun);  // a soft break and the byte
}

const char* qpwrp_end_of_stream(filter_state& state) {
    const char* output = state.state < state.line_length ? soft_break : nullptr;
    state.state = state.line_length;
    return output;
}

}  // namespace mime
