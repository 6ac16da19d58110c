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
    if (auto lines = kernels().qpwrp) in += lines(in, static_cast<std::size_t>(end - in), out, room, state.line_length);
    // While the line has room for an escape, every byte but CR and LF goes on it
    // as it is, one at a time (quoted-printable text has an "=" every few bytes);
    // the step places the others.
    while (in < end) {
        if (end - in >= 8 && room > qpwrp_full_before_escape + 8) {
            std::uint64_t word = load_word(in);
            if ((word_equal(word, cr) | word_equal(word, lf)) == 0) {
                std::memcpy(out, &word, 8);
                in += 8;
                out += 8;
                room -= 8;
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
