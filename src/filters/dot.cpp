#include "filters/dot.hpp"

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "kernels/kernels.hpp"

namespace mime {

unsigned char* dot_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int64_t line_state = state.state;
    if (auto lines = kernels().dot) in += lines(in, static_cast<std::size_t>(end - in), out, line_state);
    while (in < end) {
        const unsigned char* stop = find_any3(in, end, cr, lf, '.');
        if (stop != in) {
            copy_run(in, stop, out);
            line_state = inside_line;
            if (in == end) break;
        }
        line_state = dot_step(*in++, line_state, out);
    }
    state.state = line_state;
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
