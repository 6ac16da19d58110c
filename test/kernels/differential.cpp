// Every kernel set against the per-byte steps: each core's bulk routine, run
// with each set this CPU offers, must give exactly the bytes and the state that
// the step gives one byte at a time (test/kernels/step_vs_bulk.hpp). Inputs sweep
// lengths 0 to 300 at every alignment 0 to 63, every byte value, runs of CR, LF,
// "=", ".", space and tab, wrapped Base64, quoted-printable text (some of its
// bytes with the top bit set) and long inputs; the starting states and
// parameters are swept too. The first difference aborts with a description.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "step_vs_bulk.hpp"

namespace {

using check::bytes;
using check::which;

std::uint64_t seed = 0x9e3779b97f4a7c15ull;
unsigned next_random() {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<unsigned>(seed >> 11);
}
unsigned below(unsigned n) { return n == 0 ? 0 : next_random() % n; }

// The kinds of input, chosen in turn.
enum kind { any_byte, special_runs, wrapped_base64, qp_text, prose, clean_base64, kinds };

bytes make_input(kind k, std::size_t size) {
    bytes in(size, '\0');
    static const unsigned char specials[] = {'\r', '\n', '=', '.', ' ', '\t', 'A', 'z', '0',
                                             '+',  '/',  0,   127, 128, 255, '~', '!', 'F'};
    std::size_t column = below(80);
    unsigned width = 1 + below(90);
    for (std::size_t i = 0; i < size; ++i) {
        switch (k) {
        case any_byte:
            in[i] = static_cast<unsigned char>(next_random());
            break;
        case special_runs: {
            // Runs of one special byte, of varying length.
            unsigned char c = specials[below(sizeof specials)];
            std::size_t run = 1 + below(below(4) == 0 ? 40 : 4);
            for (std::size_t j = 0; j < run && i < size; ++j, ++i) in[i] = c;
            --i;
            break;
        }
        case wrapped_base64:
            if (column == width) {
                in[i] = '\r';
                if (i + 1 < size) in[++i] = '\n';
                column = 0;
                if (below(50) == 0) width = 1 + below(90);
            } else {
                unsigned r = below(200);
                in[i] = r == 0 ? '=' : r == 1 ? ' ' : r == 2 ? '\n' : static_cast<unsigned char>(mime::base64_alphabet[r % 64]);
                ++column;
            }
            break;
        case clean_base64:
            // Lines of pure alphabet (the width varies between inputs), padding at the end.
            if (column == width) {
                in[i] = '\r';
                if (i + 1 < size) in[++i] = '\n';
                column = 0;
            } else {
                in[i] = i + 2 >= size ? '=' : static_cast<unsigned char>(mime::base64_alphabet[below(64)]);
                ++column;
            }
            break;
        case qp_text: {
            unsigned r = below(40);
            if (r == 0) {
                in[i] = '=';
            } else if (r == 1) {
                in[i] = '\r';
            } else if (r == 2) {
                in[i] = '\n';
            } else if (r < 6) {
                in[i] = static_cast<unsigned char>("0123456789ABCDEFabcdefg"[below(23)]);
            } else if (r < 10) {
                in[i] = r == 6 ? '\t' : ' ';
            } else {
                in[i] = static_cast<unsigned char>(33 + below(94));
            }
            // Now and then the top bit set: a kernel that looks bytes up by
            // their low seven bits must not take these for the bytes above.
            if (below(16) == 0) in[i] ^= 0x80;
            break;
        }
        case prose:
        default: {
            unsigned r = below(60);
            in[i] = r < 8 ? ' ' : r == 8 ? '.' : r == 9 ? '\r' : r == 10 ? '\n' : r == 11 ? 0xe9 : r == 12 ? '='
                  : r == 13 ? '\t' : static_cast<unsigned char>('a' + below(26));
            break;
        }
        }
    }
    return in;
}

std::vector<const mime::kernel_set*> sets;
unsigned long checked = 0;

const char* const line_ends[] = {"\r\n", "\n", "", "<end>"};

// Each filter over `in` at `align`, from a reachable state, with every set.
void check_all(const bytes& in, std::size_t align, const std::string& where) {
    static const std::int32_t lengths[] = {76, 0, 1, 2, 3, 4, 5, 64, 75, 77};
    for (unsigned f = 0; f < check::FILTER_COUNT; ++f) {
        which w = static_cast<which>(f);
        const bytes line_end = line_ends[below(4)];
        std::int32_t line_length = below(3) == 0 ? lengths[below(10)] : static_cast<std::int32_t>(below(100));
        std::int64_t state = 0;
        if (w == check::EOL) {
            static const std::int64_t eol_states[] = {0, 10, 13, 5};
            state = eol_states[below(4)];
        } else if (w == check::DOT) {
            static const std::int64_t dot_states[] = {0, 1, 2, 5};
            state = dot_states[below(4)];
        } else if (!check::is_codec(w)) {
            state = static_cast<std::int64_t>(below(line_length + 8)) - 4;
            if (below(50) == 0) state = below(2) ? INT32_MIN : INT32_MAX;
        }
        check::carry start = check::start(state, line_length, line_end);
        std::string context = where;
        if (check::is_codec(w)) {
            // A reachable pending group: the step run over a short prefix.
            bytes prefix = make_input(static_cast<kind>(below(kinds)), below(6)), ignored;
            check::step(w, start, check::data_of(prefix), prefix.size(), ignored);
            context += ", prefix " + check::shown(prefix);
        }
        for (const mime::kernel_set* set : sets) {
            check::select(*set);
            check::carry c = start;
            check::step_vs_bulk(w, c, check::data_of(in), in.size(), context, align);
            ++checked;
        }
    }
}

}  // namespace

int main() {
    for (const mime::kernel_set& set : mime::kernel_sets())
        if (mime::kernel_available(set)) sets.push_back(&set);
    std::printf("kernel sets on this CPU:");
    for (const mime::kernel_set* set : sets) std::printf(" %s", set->name);
    std::printf(" (default %s)\n", mime::default_kernels().name);

    // Every byte value, at every alignment.
    bytes all(256, '\0');
    for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    for (std::size_t align = 0; align < 64; ++align) check_all(all, align, "every byte value");

    // Lengths 0 to 300 at every alignment, each kind of input in turn.
    for (std::size_t size = 0; size <= 300; ++size)
        for (std::size_t align = 0; align < 64; ++align) {
            kind k = static_cast<kind>((size + align) % kinds);
            check_all(make_input(k, size), align,
                      "length " + std::to_string(size) + ", alignment " + std::to_string(align) + ", kind " +
                          std::to_string(k));
        }

    // Long inputs: the decoder's batches, many lines.
    for (std::size_t size : {2047u, 4096u, 6001u, 40000u, 70001u})
        for (int k = 0; k < kinds; ++k)
            check_all(make_input(static_cast<kind>(k), size), size % 64,
                      "long input, length " + std::to_string(size) + ", kind " + std::to_string(k));

    mime::use_default_kernels();
    std::printf("%lu comparisons, no difference\n", checked);
    return 0;
}
