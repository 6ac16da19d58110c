// The kernel sets a fuzzer runs the bulk routines with: every set this build has
// and this CPU runs (the portable code among them), chosen for the calling thread.
// Without kernels in the build (MIME_FUZZ_KERNELS unset) there is one: the
// portable code.
#pragma once

#include <vector>

#if MIME_FUZZ_KERNELS
#include "module/cpu.hpp"
#endif

namespace fuzz {

// Named in every mismatch report.
inline const char* current_kernels = "portable";

#if MIME_FUZZ_KERNELS

struct kernel_choice {
    mime::kernel_set set;
    const char* name() const { return mime::kernel_name(set); }
    void select() const {
        mime::use_kernels(set);
        current_kernels = name();
    }
};

inline const std::vector<kernel_choice>& kernel_choices() {
    static const std::vector<kernel_choice> choices = [] {
        std::vector<kernel_choice> found;
        for (mime::kernel_set set : mime::all_kernel_sets)
            if (mime::kernel_available(set)) found.push_back({set});
        return found;
    }();
    return choices;
}

inline void default_kernels() { mime::use_default_kernels(); }

#else

struct kernel_choice {
    const char* name() const { return "portable"; }
    void select() const {}
};

inline const std::vector<kernel_choice>& kernel_choices() {
    static const std::vector<kernel_choice> choices{kernel_choice{}};
    return choices;
}

inline void default_kernels() {}

#endif

}  // namespace fuzz
