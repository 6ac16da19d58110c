// CPU detection and the dispatch of the kernel sets. Which sets this build has,
// and what each needs of the CPU, come from the list in cmake/kernels.cmake,
// written out as kernel_sets.inc.
#include <atomic>
#include <cstring>

#include "kernels/kernels.hpp"

namespace mime {
namespace {

const kernel_table portable{};

bool always() { return true; }

}  // namespace

#include "kernel_sets.inc"  // the sets' tables, and const kernel_set built_sets[]: scalar first

namespace {

const kernel_set& choose() {
#if defined(MIME_KERNEL_PINNED)
    // A build made for testing one set: used whatever the CPU says.
    for (const kernel_set& set : built_sets)
        if (std::strcmp(set.name, MIME_KERNEL_PINNED) == 0) return set;
#endif
    const kernel_set* best = &built_sets[0];
    for (const kernel_set& set : built_sets)
        if (set.cpu_runs()) best = &set;
    return *best;
}

// The choice of this thread, when a test or fuzzer made one.
thread_local const kernel_table* thread_choice = nullptr;
// Set once any thread has made a choice: until then no thread reads its own,
// which in a shared object costs a call into the thread-local storage machinery
// at every bulk call (the module never chooses).
std::atomic<bool> some_thread_chose{false};
// The process's table once chosen (the tables themselves are constants).
std::atomic<const kernel_table*> process_table{nullptr};

__attribute__((noinline)) const kernel_table& choose_process_table() {
    const kernel_table* table = default_kernels().table;
    process_table.store(table, std::memory_order_relaxed);
    return *table;
}

}  // namespace

kernel_set_list kernel_sets() { return {built_sets, sizeof built_sets / sizeof built_sets[0]}; }

bool kernel_available(const kernel_set& set) { return set.cpu_runs(); }

const kernel_set& default_kernels() {
    // A function-local static is initialised exactly once, even when several
    // threads get here together.
    static const kernel_set& chosen = choose();
    return chosen;
}

bool use_kernels(const kernel_set& set) {
    if (!kernel_available(set)) return false;
    thread_choice = set.table;
    some_thread_chose.store(true, std::memory_order_relaxed);
    return true;
}

void use_default_kernels() { thread_choice = nullptr; }

const kernel_table& kernels() {
    if (some_thread_chose.load(std::memory_order_relaxed))
        if (const kernel_table* chosen = thread_choice) return *chosen;
    if (const kernel_table* table = process_table.load(std::memory_order_relaxed)) return *table;
    return choose_process_table();
}

}  // namespace mime
