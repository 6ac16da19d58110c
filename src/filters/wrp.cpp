#include "filters/wrp.hpp"

#include <cstring>

#include "kernels/kernels.hpp"
#include "module/scan.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

constexpr char hard_break[] = "\r\n";

inline unsigned char* put_hard_break(unsigned char* out) {
    out[0] = cr;
    out[1] = lf;
    return out + 2;
}

}  // namespace

std::int32_t wrp_step(unsigned char byte, std::int32_t room, std::int32_t line_length,
                      unsigned char*& out) {
    if (byte == lf) {
        out = put_hard_break(out);
        return line_length;
    }
    if (byte == cr) return room;
    if (room <= 0) {
        out = put_hard_break(out);
        room = line_length;
    }
    *out++ = byte;
    return room_after_one(room);
}

unsigned char* wrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int32_t room = static_cast<std::int32_t>(state.state);
    if (auto lines = kernels().wrp_lines)
        in += lines(in, static_cast<std::size_t>(end - in), out, room, state.line_length);
    while (in < end) {
        if (room > 0) {
            std::size_t fits = static_cast<std::size_t>(room);
            const unsigned char* limit = static_cast<std::size_t>(end - in) < fits ? end : in + fits;
            const unsigned char* stop = find_either(in, limit, cr, lf);
            std::memcpy(out, in, stop - in);
            out += stop - in;
            room -= static_cast<std::int32_t>(stop - in);
            in = stop;
            if (in == end) break;
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
