#include "codec/qpwrp.hpp"

#include <cstring>

#include "kernels/kernels.hpp"
#include "module/scan.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

constexpr char soft_break[] = "=\r\n";

inline unsigned char* put_soft_break(unsigned char* out) {
    std::memcpy(out, soft_break, 3);
    return out + 3;
}

}  // namespace

std::int32_t qpwrp_step(unsigned char byte, std::int32_t room, std::int32_t line_length,
                        unsigned char*& out) {
    switch (byte) {
    case lf:
        out[0] = cr;
        out[1] = lf;
        out += 2;
        return line_length;
    case cr:
        return room;
    case '=':
        // An escape needs three places, so its digits never go to the next line.
        if (room <= 3) {
            out = put_soft_break(out);
            room = line_length;
        }
        break;
    default:
        // One place stays free for the "=" of a soft break.
        if (room <= 1) {
            out = put_soft_break(out);
            room = line_length;
        }
        break;
    }
    *out++ = byte;
    return room_after_one(room);
}

unsigned char* qpwrp_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                          unsigned char* out) {
    const unsigned char* end = in + size;
    std::int32_t room = static_cast<std::int32_t>(state.state);
    if (auto lines = kernels().qpwrp_lines)
        in += lines(in, static_cast<std::size_t>(end - in), out, room, state.line_length);
    while (in < end) {
        if (room > 1) {
            // Bytes other than LF, CR and "=" go on the line as they are until one
            // place is left.
            std::size_t fits = static_cast<std::size_t>(room) - 1;
            const unsigned char* limit = static_cast<std::size_t>(end - in) < fits ? end : in + fits;
            const unsigned char* stop = find_any3(in, limit, lf, cr, '=');
            std::memcpy(out, in, stop - in);
            out += stop - in;
            room -= static_cast<std::int32_t>(stop - in);
            in = stop;
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
