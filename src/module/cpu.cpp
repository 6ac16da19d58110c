#include "module/cpu.hpp"

#include "kernels/kernels.hpp"

namespace mime {
namespace {

const kernel_table scalar_table{};

#if MIME_X86_KERNELS
const kernel_table ssse3_table{ssse3::b64_encode,  ssse3::unb64_decode, ssse3::qp_encode, ssse3::unqp_decode,
                              ssse3::qpwrp_lines, ssse3::wrp_lines,    ssse3::eol_lines, ssse3::dot_lines};
const kernel_table avx2_table{avx2::b64_encode,  avx2::unb64_decode, avx2::qp_encode, avx2::unqp_decode,
                              avx2::qpwrp_lines, avx2::wrp_lines,    avx2::eol_lines, avx2::dot_lines};
#if MIME_AVX512_KERNELS
const kernel_table avx512_table{avx512::b64_encode, avx512::unb64_decode, avx2::qp_encode, avx2::unqp_decode,
                                avx2::qpwrp_lines,  avx2::wrp_lines,      avx2::eol_lines, avx2::dot_lines};
#endif
#endif

const kernel_table& table_of(kernel_set set) {
#if MIME_X86_KERNELS
    if (set == kernel_set::ssse3) return ssse3_table;
    if (set == kernel_set::avx2) return avx2_table;
#if MIME_AVX512_KERNELS
    if (set == kernel_set::avx512) return avx512_table;
#endif
#endif
    (void)set;
    return scalar_table;
}

bool cpu_runs(kernel_set set) {
#if MIME_X86_KERNELS
    __builtin_cpu_init();
    if (set == kernel_set::ssse3) return __builtin_cpu_supports("ssse3");
    if (set == kernel_set::avx2) return __builtin_cpu_supports("avx2");
#if MIME_AVX512_KERNELS
    if (set == kernel_set::avx512)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
               __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt");
#endif
#endif
    return set == kernel_set::scalar;
}

kernel_set choose() {
#if defined(MIME_KERNEL_PINNED)
    // A build made for testing one set: used whatever the CPU says.
    return kernel_set::MIME_KERNEL_PINNED;
#else
    kernel_set best = kernel_set::scalar;
    for (kernel_set set : all_kernel_sets)
        if (cpu_runs(set)) best = set;
    return best;
#endif
}

// What each set may be asked for, found once: a function-local static is
// initialised exactly once even when several threads get here together.
struct cpu_facts {
    bool runs[sizeof all_kernel_sets / sizeof all_kernel_sets[0]];
    kernel_set chosen;
};

const cpu_facts& facts() {
    static const cpu_facts found = [] {
        cpu_facts f{};
        for (kernel_set set : all_kernel_sets) f.runs[static_cast<unsigned>(set)] = cpu_runs(set);
        f.chosen = choose();
        return f;
    }();
    return found;
}

// The choice of this thread, when a test or fuzzer made one.
thread_local const kernel_table* thread_choice = nullptr;
thread_local kernel_set thread_set = kernel_set::scalar;

}  // namespace

const char* kernel_name(kernel_set set) {
    switch (set) {
    case kernel_set::ssse3:
        return "ssse3";
    case kernel_set::avx2:
        return "avx2";
    case kernel_set::avx512:
        return "avx512";
    case kernel_set::scalar:
    default:
        return "scalar";
    }
}

bool kernel_available(kernel_set set) { return facts().runs[static_cast<unsigned>(set)]; }

kernel_set default_kernels() { return facts().chosen; }

kernel_set active_kernels() { return thread_choice != nullptr ? thread_set : default_kernels(); }

bool use_kernels(kernel_set set) {
    if (!kernel_available(set)) return false;
    thread_choice = &table_of(set);
    thread_set = set;
    return true;
}

void use_default_kernels() { thread_choice = nullptr; }

const kernel_table& kernels() {
    if (const kernel_table* chosen = thread_choice) return *chosen;
    static const kernel_table& table = table_of(default_kernels());
    return table;
}

}  // namespace mime
