#include "filters/dot.hpp"

#include <cstdint>
#include <cstring>

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "kernels/kernels.hpp"

namespace mime {

unsigned char* dot_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* const start = in;
    const unsigned char* const end = in + size;
    std::int64_t line_state = state.state;
    if (auto lines = kernels().dot) in += run_kernel_with(lines, in, size, out, line_state);
    // Until two bytes are behind, the step; then only a "." after CR LF needs a
    // decision, found eight bytes at a time (a word that may hold one is taken a
    // byte at a time).
    while (in < end && in - start < 2) line_state = dot_step(*in++, line_state, out);
    if (in == end) {
        state.state = line_state;
        return out;
    }
    while (in < end) {
        while (end - in >= 8) {
            std::uint64_t word = load_word(in);
            if (word_has(word, '.') & word_has(load_word(in - 1), lf) & word_has(load_word(in - 2), cr)) break;
            std::memcpy(out, &word, 8);
            in += 8;
            out += 8;
        }
        const unsigned char* stop = end - in > 8 ? in + 8 : end;
        for (; in < stop; ++in) {
            if (*in == '.' && in[-1] == lf && in[-2] == cr) *out++ = '.';
            *out++ = *in;
        }
    }
    state.state = dot_state_before(end);
    return out;
}

std::size_t dot_bound(const filter_state&, std::size_t size) {
    return size_bound(size, 2, kernel_overrun);
}

const char* dot_end_of_stream(filter_state& state) {
    state.state = line_start;
    return nullptr;
}

}  // namespace mime
