#include "filters/eol.hpp"

#include <cstring>

#include "kernels/kernels.hpp"
#include "module/scan.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

inline bool is_candidate(std::int64_t byte) { return byte == cr || byte == lf; }

}  // namespace

std::int64_t eol_push_char(unsigned char byte, std::int64_t last_break, byte_span line_end,
                           unsigned char*& out) {
    if (!is_candidate(byte)) {
        *out++ = byte;
        return 0;
    }
    if (!is_candidate(last_break)) {
        out = put(out, line_end);
        return byte;
    }
    if (last_break == byte) {  // CR CR or LF LF: an empty line
        out = put(out, line_end);
        return 0;
    }
    return 0;  // the second half of a pair already written
}

unsigned char* eol_bulk(filter_state& state, const unsigned char* in, std::size_t size,
                        unsigned char* out) {
    const unsigned char* end = in + size;
    std::int64_t last_break = state.state;
    if (auto lines = kernels().eol_lines)
        in += lines(in, static_cast<std::size_t>(end - in), out, last_break, state.line_end.data,
                    state.line_end.size);
    while (in < end) {
        const unsigned char* stop = find_either(in, end, cr, lf);
        if (stop != in) {
            std::memcpy(out, in, stop - in);
            out += stop - in;
            in = stop;
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
