// Every kernel set against the per-byte steps: each core's bulk routine, run
// with each set this CPU offers, must give exactly the bytes and the state that
// the step gives one byte at a time. Inputs sweep lengths 0 to 300 at every
// alignment 0 to 63, every byte value, runs of CR, LF, "=", ".", space and tab,
// wrapped Base64 and quoted-printable text, and long inputs; the starting states
// and parameters are swept too. The first difference aborts with a description.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/b64.hpp"
#include "codec/qp.hpp"
#include "codec/qpwrp.hpp"
#include "codec/unb64.hpp"
#include "codec/unqp.hpp"
#include "filters/dot.hpp"
#include "filters/eol.hpp"
#include "filters/wrp.hpp"
#include "module/cpu.hpp"

namespace {

using bytes = std::vector<unsigned char>;

std::uint64_t seed = 0x9e3779b97f4a7c15ull;
unsigned next_random() {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<unsigned>(seed >> 11);
}
unsigned below(unsigned n) { return n == 0 ? 0 : next_random() % n; }

const char base64_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The kinds of input, chosen in turn.
enum kind { any_byte, special_runs, wrapped_base64, qp_text, prose, clean_base64, kinds };

bytes make_input(kind k, std::size_t size) {
    bytes in(size);
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
                in[i] = r == 0 ? '=' : r == 1 ? ' ' : r == 2 ? '\n' : static_cast<unsigned char>(base64_chars[r % 64]);
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
                in[i] = i + 2 >= size ? '=' : static_cast<unsigned char>(base64_chars[below(64)]);
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

std::string describe(const unsigned char* p, std::size_t n) {
    std::string s;
    char piece[8];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(piece, sizeof piece, "%02x", p[i]);
        s += piece;
        if (i + 1 < n) s += ' ';
    }
    return s;
}

[[noreturn]] void report(const char* core, mime::kernel_set set, const std::string& where,
                         const bytes& in, const bytes& want, const bytes& got, const std::string& states) {
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
    std::fprintf(stderr,
                 "FAIL %s with the %s kernels differs from the per-byte step\n"
                 "  case: %s\n  %s\n  input (%zu bytes): %s\n"
                 "  step output (%zu bytes): %s\n  bulk output (%zu bytes): %s\n"
                 "  first difference at output byte %zu\n",
                 core, mime::kernel_name(set), where.c_str(), states.c_str(), in.size(),
                 describe(in.data(), in.size()).c_str(), want.size(),
                 describe(want.data(), want.size()).c_str(), got.size(),
                 describe(got.data(), got.size()).c_str(), at);
    std::abort();
}

// An output area of exactly `bound` bytes with a guard after it, at `align`.
struct output_area {
    bytes storage;
    std::size_t align, bound;
    output_area(std::size_t bound_, std::size_t align_) : storage(bound_ + align_ + 64, 0xa5), align(align_), bound(bound_) {}
    unsigned char* begin() { return storage.data() + align; }
    bool guard_intact() const {
        for (std::size_t i = align + bound; i < storage.size(); ++i)
            if (storage[i] != 0xa5) return false;
        return true;
    }
};

// --- The per-byte references --------------------------------------------------

using codec_step = void (*)(mime::codec_state&, unsigned char, unsigned char*&);
using filter_step = void (*)(mime::filter_state&, unsigned char, unsigned char*&);

void b64_ref(mime::codec_state& s, unsigned char c, unsigned char*& out) {
    s.count = mime::b64_push_byte(c, s.group, s.count, out);
}
void unb64_ref(mime::codec_state& s, unsigned char c, unsigned char*& out) {
    s.count = mime::unb64_push_char(c, s.group, s.count, out);
}
void qp_ref(mime::codec_state& s, unsigned char c, unsigned char*& out) {
    s.count = mime::qp_push_byte(c, s.group, s.count, s.line_end, out);
}
void unqp_ref(mime::codec_state& s, unsigned char c, unsigned char*& out) {
    s.count = mime::unqp_push_char(c, s.group, s.count, out);
}
void qpwrp_ref(mime::filter_state& s, unsigned char c, unsigned char*& out) {
    s.state = mime::qpwrp_step(c, static_cast<std::int32_t>(s.state), s.line_length, out);
}
void wrp_ref(mime::filter_state& s, unsigned char c, unsigned char*& out) {
    s.state = mime::wrp_step(c, static_cast<std::int32_t>(s.state), s.line_length, out);
}
void eol_ref(mime::filter_state& s, unsigned char c, unsigned char*& out) {
    s.state = mime::eol_push_char(c, s.state, s.line_end, out);
}
void dot_ref(mime::filter_state& s, unsigned char c, unsigned char*& out) {
    s.state = mime::dot_step(c, s.state, out);
}

struct codec_case {
    const char* name;
    const mime::codec& core;
    codec_step step;
};

struct filter_case {
    const char* name;
    const mime::line_filter& core;
    filter_step step;
};

const codec_case codecs[] = {
    {"b64", mime::b64_codec, b64_ref},
    {"unb64", mime::unb64_codec, unb64_ref},
    {"qp", mime::qp_codec, qp_ref},
    {"unqp", mime::unqp_codec, unqp_ref},
};

const filter_case filters[] = {
    {"qpwrp", mime::qpwrp_filter, qpwrp_ref},
    {"wrp", mime::wrp_filter, wrp_ref},
    {"eol", mime::eol_filter, eol_ref},
    {"dot", mime::dot_filter, dot_ref},
};

const char* const line_ends[] = {"\r\n", "\n", "", "<end>"};

mime::byte_span span_of(const char* text) {
    return {reinterpret_cast<const unsigned char*>(text), std::strlen(text)};
}

std::vector<mime::kernel_set> sets;
unsigned long checked = 0;

void check_codec(const codec_case& c, const bytes& prefix, const bytes& in, std::size_t align,
                 const char* line_end, const std::string& where) {
    mime::codec_state start{};
    start.line_end = span_of(line_end);
    // A reachable starting state: the step run over a short prefix.
    bytes scratch(prefix.size() * 8 + 64);
    unsigned char* sink = scratch.data();
    for (unsigned char b : prefix) c.step(start, b, sink);

    mime::codec_state want_state = start;
    bytes want(in.size() * 8 + 64);
    unsigned char* w = want.data();
    for (unsigned char b : in) c.step(want_state, b, w);
    want.resize(static_cast<std::size_t>(w - want.data()));

    bytes source(in.size() + align);
    if (!in.empty()) std::memcpy(source.data() + align, in.data(), in.size());
    for (mime::kernel_set set : sets) {
        if (!mime::use_kernels(set)) std::abort();
        mime::codec_state state = start;
        std::size_t bound = c.core.bound(state, in.size());
        output_area area(bound, (align * 7) % 64);
        unsigned char* end = c.core.bulk(state, source.data() + align, in.size(), area.begin());
        bytes got(area.begin(), end);
        std::string states = "pending before: " + describe(start.group, start.count) +
                             "; after, step: " + describe(want_state.group, want_state.count) +
                             "; bulk: " + describe(state.group, state.count) + "; line end \"" + line_end + "\"";
        if (got != want || state.count != want_state.count ||
            std::memcmp(state.group, want_state.group, state.count) != 0)
            report(c.name, set, where, in, want, got, states);
        if (got.size() > bound || !area.guard_intact())
            report(c.name, set, where + " (wrote past its bound)", in, want, got, states);
        ++checked;
    }
}

void check_filter(const filter_case& f, std::int64_t state0, std::int32_t line_length, const char* line_end,
                  const bytes& in, std::size_t align, const std::string& where) {
    mime::filter_state start{};
    start.state = state0;
    start.line_length = line_length;
    start.line_end = span_of(line_end);
    mime::filter_state want_state = start;
    bytes want(in.size() * 8 + 64);
    unsigned char* w = want.data();
    for (unsigned char b : in) f.step(want_state, b, w);
    want.resize(static_cast<std::size_t>(w - want.data()));

    bytes source(in.size() + align);
    if (!in.empty()) std::memcpy(source.data() + align, in.data(), in.size());
    for (mime::kernel_set set : sets) {
        if (!mime::use_kernels(set)) std::abort();
        mime::filter_state state = start;
        std::size_t bound = f.core.bound(state, in.size());
        output_area area(bound, (align * 5) % 64);
        unsigned char* end = f.core.bulk(state, source.data() + align, in.size(), area.begin());
        bytes got(area.begin(), end);
        std::string states = "state before " + std::to_string(state0) + ", after: step " +
                             std::to_string(want_state.state) + ", bulk " + std::to_string(state.state) +
                             "; line length " + std::to_string(line_length) + "; line end \"" + line_end + "\"";
        if (got != want || state.state != want_state.state) report(f.name, set, where, in, want, got, states);
        if (got.size() > bound || !area.guard_intact())
            report(f.name, set, where + " (wrote past its bound)", in, want, got, states);
        ++checked;
    }
}

void check_all(const bytes& in, std::size_t align, const std::string& where) {
    for (const codec_case& c : codecs) {
        bytes prefix = make_input(static_cast<kind>(below(kinds)), below(6));
        const char* line_end = line_ends[below(4)];
        check_codec(c, prefix, in, align, line_end, where + ", prefix " + describe(prefix.data(), prefix.size()));
    }
    static const std::int32_t lengths[] = {76, 0, 1, 2, 3, 4, 5, 64, 75, 77};
    for (const filter_case& f : filters) {
        std::int32_t line_length = below(3) == 0 ? lengths[below(10)] : static_cast<std::int32_t>(below(100));
        std::int64_t state;
        if (f.name[0] == 'e') {
            static const std::int64_t eol_states[] = {0, 10, 13, 5};
            state = eol_states[below(4)];
        } else if (f.name[0] == 'd') {
            static const std::int64_t dot_states[] = {0, 1, 2, 5};
            state = dot_states[below(4)];
        } else {
            state = static_cast<std::int64_t>(below(line_length + 8)) - 4;
            if (below(50) == 0) state = below(2) ? INT32_MIN : INT32_MAX;
        }
        check_filter(f, state, line_length, line_ends[below(4)], in, align, where);
    }
}

}  // namespace

int main() {
    for (mime::kernel_set set : mime::all_kernel_sets)
        if (mime::kernel_available(set)) sets.push_back(set);
    std::printf("kernel sets on this CPU:");
    for (mime::kernel_set set : sets) std::printf(" %s", mime::kernel_name(set));
    std::printf(" (default %s)\n", mime::kernel_name(mime::default_kernels()));

    // Every byte value, at every alignment.
    bytes all(256);
    for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
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
