// The block kernels behind the bulk routines, and the choice of the set they come
// from. A kernel works on whole blocks of the input and returns how many input
// bytes it took; the portable code of the core finishes the rest, so a kernel
// never has to handle a short tail or a rare case.
//
// Writing: a kernel may store up to `kernel_overrun` bytes past the end of the
// output it gives (whole-vector stores); every bound leaves that much room, and
// the bytes past the end are overwritten by whatever comes next.
//
// Adding a kernel: its signature below (and its place in kernel_table), its entry
// in the table at the end of each instruction-set file, its call in the core.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/shapes.hpp"

namespace mime {

inline constexpr std::size_t kernel_overrun = 64;

// Base64: encodes whole 3-byte groups of in[0, size) to out, four characters per
// group. Returns the number of input bytes taken (a multiple of 3).
using b64_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char* out);
// Base64 decoding with `count` (0 to 3) characters already pending in `quartet`:
// takes alphabet characters and skips every byte outside the alphabet, stopping
// before the block that holds the first "=". Decoded bytes go to *out (advanced);
// the characters of an unfinished quartet are left in `quartet`/`count`. Takes
// nothing while a pending character is "=".
using unb64_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out,
                                 unsigned char* quartet, unsigned& count);
// The text filters: each takes whole blocks from `in`, writes to *out (advanced)
// and gives exactly what the filter's step gives byte by byte.
// Quoted-printable encoding with an empty window.
using qp_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out,
                              byte_span line_end);
// Quoted-printable decoding with nothing pending.
using unqp_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out);
// The wrappers (qpwrp, wrp).
using wrap_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out,
                                std::int32_t& room, std::int32_t line_length);
using eol_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out,
                               std::int64_t& last_break, byte_span line_end);
using dot_kernel = std::size_t(const unsigned char* in, std::size_t size, unsigned char*& out,
                               std::int64_t& line_state);
// The line-end normaliser's test for text it leaves as it is (line end CR LF):
// returns k such that every CR and LF in in[1, k) stands in a pair CR LF,
// having read no further than in[k]; it stops before the first block where
// that fails.
using eol_clean_kernel = std::size_t(const unsigned char* in, std::size_t size);

// One instruction set's kernels; a null entry leaves that filter to the portable code.
struct kernel_table {
    b64_kernel* b64;
    unb64_kernel* unb64;
    qp_kernel* qp;
    unqp_kernel* unqp;
    wrap_kernel* qpwrp;
    wrap_kernel* wrp;
    eol_kernel* eol;
    dot_kernel* dot;
    eol_clean_kernel* eol_clean;
};

// A kernel set as this build has it: "scalar" (the portable code alone, the
// reference), "ssse3" (16-byte blocks), "avx2" (32-byte blocks), "avx512"
// (64-byte blocks; AVX2 for dot and the line ends other than CR LF).
struct kernel_set {
    const char* name;
    const kernel_table* table;
    bool (*cpu_runs)();
};

struct kernel_set_list {
    const kernel_set* first;
    std::size_t count;
    const kernel_set* begin() const { return first; }
    const kernel_set* end() const { return first + count; }
};

// The table the bulk routines use on the calling thread: the set chosen for the
// process (the best the CPU runs, found once, thread-safely; or the one a build
// configured with MIME_KERNEL=<name> pins), unless the thread chose another.
const kernel_table& kernels();

// Calls a kernel on copies of the caller's output pointer and state, so that the
// caller's own never have their addresses taken: otherwise every byte the
// caller stores might, for all the compiler knows, change them, and they would
// stay in memory through the whole of the caller's loop.
template <class Kernel, class... Rest>
std::size_t run_kernel(Kernel* kernel, const unsigned char* in, std::size_t size, unsigned char*& out,
                       Rest&&... rest) {
    unsigned char* kernel_out = out;
    std::size_t taken = kernel(in, size, kernel_out, static_cast<Rest&&>(rest)...);
    out = kernel_out;
    return taken;
}

template <class Kernel, class State, class... Rest>
std::size_t run_kernel_with(Kernel* kernel, const unsigned char* in, std::size_t size, unsigned char*& out,
                            State& state, Rest&&... rest) {
    State kernel_state = state;
    std::size_t taken = run_kernel(kernel, in, size, out, kernel_state, static_cast<Rest&&>(rest)...);
    state = kernel_state;
    return taken;
}

// For tests and fuzzers (nothing here is visible from Lua):
//   for (const mime::kernel_set& set : mime::kernel_sets())
//       if (mime::use_kernels(set)) { ... run b64_codec.bulk(...) etc. ... }
//   mime::use_default_kernels();
// Every set this build has, the portable code first.
kernel_set_list kernel_sets();
// True when this CPU runs the set (scalar always).
bool kernel_available(const kernel_set& set);
// The set chosen for the process.
const kernel_set& default_kernels();
// Makes the bulk routines of the calling thread use `set` until the next call (or
// use_default_kernels). Returns false, changing nothing, when the CPU cannot run
// it. Other threads keep their own choice.
bool use_kernels(const kernel_set& set);
void use_default_kernels();

}  // namespace mime
