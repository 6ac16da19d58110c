#include "filters/eol.hpp"

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "kernels/kernels.hpp"

namespace mime {

unsigned char* eol_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int64_t last_break = state.state;
    if (auto lines = kernels().eol) in += lines(in, static_cast<std::size_t>(end - in), out, last_break, state.line_end);
    while (in < end) {
        const unsigned char* stop = find_either(in, end, cr, lf);
        if (stop != in) {
            copy_run(in, stop, out);
            last_break = 0;
            if (in == end) break;
        }
        last_break = eol_push_char(*in++, last_break, state.line_end, out);
    }
    state.state = last_break;
    return out;
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
