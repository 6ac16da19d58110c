// The kernel sets a fuzzer compares: the portable cores, and every SIMD kernel
// set the CPU running the fuzzer has, once the cores can be run with a chosen one.
#pragma once

#include <vector>

#include "drive.hpp"

namespace fuzz {

struct kernel_set {
    const char* name;
    // Null: the core's own bulk routine.
    codec_bulk_fn codecs[4];
    filter_bulk_fn filters[4];
    codec_bulk_fn codec_bulk(which w) const { return codecs[w]; }
    filter_bulk_fn filter_bulk(which w) const { return filters[w - QPWRP]; }
};

inline const std::vector<kernel_set>& kernel_sets() {
    static const std::vector<kernel_set> sets{kernel_set{"portable", {}, {}}};
    return sets;
}

}  // namespace fuzz
