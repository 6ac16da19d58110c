// Which block kernels the bulk routines use. The best set the CPU runs is chosen
// once, on first use, thread-safely; a build configured with MIME_KERNEL=<name>
// pins it instead. Every set gives exactly the bytes of the portable code.
//
// For tests and fuzzers (nothing here is visible from Lua):
//   for (mime::kernel_set set : mime::all_kernel_sets)
//       if (mime::kernel_available(set)) {
//           mime::use_kernels(set);        // this thread only
//           ... run b64_codec.bulk(...) etc. ...
//       }
//   mime::use_default_kernels();
#pragma once

namespace mime {

enum class kernel_set : unsigned char {
    scalar,  // the portable code alone: the reference
    ssse3,   // x86-64 SSSE3, 16-byte blocks
    avx2,    // x86-64 AVX2, 32-byte blocks
    avx512,  // x86-64 AVX-512 with VBMI and VBMI2: 64-byte Base64 blocks, AVX2 for the rest
};

inline constexpr kernel_set all_kernel_sets[] = {kernel_set::scalar, kernel_set::ssse3,
                                                 kernel_set::avx2, kernel_set::avx512};

// "scalar", "ssse3", "avx2" or "avx512".
const char* kernel_name(kernel_set set);

// True when this build has the set and this CPU can run it (scalar always).
bool kernel_available(kernel_set set);

// The set chosen for this process: the best available, or the pinned one.
kernel_set default_kernels();

// The set the bulk routines use on the calling thread.
kernel_set active_kernels();

// Makes the bulk routines of the calling thread use `set` until the next call
// (or use_default_kernels). Returns false, changing nothing, when the set is not
// available. Other threads keep their own choice.
bool use_kernels(kernel_set set);
void use_default_kernels();

}  // namespace mime
