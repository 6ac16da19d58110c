#include "filters/wrp.hpp"

#include "base/decisions.hpp"
#include "base/scan.hpp"
#include "base/write.hpp"
#include "kernels/kernels.hpp"

namespace mime {

unsigned char* wrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int32_t room = static_cast<std::int32_t>(state.state);
    if (auto lines = kernels().wrp)
        in += run_kernel_with(lines, in, static_cast<std::size_t>(end - in), out, room, state.line_length);
    while (in < end) {
        if (room > wrp_full) {
            std::size_t fits = static_cast<std::size_t>(room - wrp_full);
            const unsigned char* limit = static_cast<std::size_t>(end - in) < fits ? end : in + fits;
            const unsigned char* start = in;
            copy_to_line_break(in, limit, out);  // room: three bytes for each byte read
            room -= static_cast<std::int32_t>(in - start);
            if (in == end) break;
            if (*in == cr && end - in >= 2 && in[1] == lf) {  // CR dropped, LF a break
                out = put_hard_break(out);
                room = state.line_length;
                in += 2;
                continue;
            }
        }
        room = wrp_step(*in++, room, state.line_length, out);
    }
    state.state = room;
    return out;
}

std::size_t wrp_bound(const filter_state&, std::size_t size) {
    return size_bound(size, 3, kernel_overrun);  // a break and the byte
}

const char* wrp_end_of_stream(filter_state& state) {
    const char* output = state.state < state.line_length ? hard_break : nullptr;
    state.state = state.line_length;
    return output;
}

}  // namespace mime
