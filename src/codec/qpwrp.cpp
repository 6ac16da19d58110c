#include "codec/qpwrp.hpp"

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
    while (in < end) {
        if (room > qpwrp_full) {
            // Bytes other than LF, CR and "=" go on the line as they are while they fit.
            std::size_t fits = static_cast<std::size_t>(room - qpwrp_full);
            const unsigned char* limit = static_cast<std::size_t>(end - in) < fits ? end : in + fits;
            const unsigned char* start = in;
            copy_run(in, find_any3(in, limit, lf, cr, '='), out);
            room -= static_cast<std::int32_t>(in - start);
            if (in == end) break;
        }
        room = qpwrp_step(*in++, room, state.line_length, out);
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
