// The kernels alone: each kernel set's block kernel for a filter, called
// directly over the benchmark's inputs in calls of one chunk size, with nothing
// of Lua, the reservation or the portable code around it. For comparing two
// versions of a kernel side by side; the figures are MB/s of input, the best of
// the passes (the machine is shared: the best is the least disturbed).
//
//   build-bench/mime_kernel_bench build-bench/bench-data [function ...]
//
// The inputs are the files bench/run.sh writes (<kind>.bin); a kind whose file
// is missing is left out. KERNEL_CHUNK (bytes, 65536) and KERNEL_PASSES (15)
// change the call size and the number of passes.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/kernels.hpp"

namespace {

struct job {
    const char* function;
    const char* kinds[4];
};

const job jobs[] = {
    {"b64", {"binary", "text"}},
    {"unb64", {"base64", "base64-flat"}},
    {"qp", {"text", "dense", "greek", "binary"}},
    {"unqp", {"qp-text", "qp-text-wrapped", "qp-greek", "qp-greek-wrapped"}},
    {"qpwrp", {"qp-text", "qp-greek"}},
    {"wrp", {"base64-flat", "text"}},
    {"eol", {"text", "text-lf", "dense"}},
    {"dot", {"text", "dense"}},
};

const unsigned char crlf[2] = {'\r', '\n'};
const mime::byte_span line_end{crlf, 2};

// One call of the function's kernel on in[0, size) from a fresh state: the
// bytes it took, its output at out.
std::size_t call(const mime::kernel_table& t, const std::string& function, const unsigned char* in,
                 std::size_t size, unsigned char* out) {
    unsigned char* o = out;
    if (function == "b64") return t.b64 ? t.b64(in, size, o) : 0;
    if (function == "unb64") {
        unsigned char quartet[4];
        unsigned count = 0;
        return t.unb64 ? t.unb64(in, size, o, quartet, count) : 0;
    }
    if (function == "qp") return t.qp ? t.qp(in, size, o, line_end) : 0;
    if (function == "unqp") return t.unqp ? t.unqp(in, size, o) : 0;
    std::int32_t room = 76;
    if (function == "qpwrp") return t.qpwrp ? t.qpwrp(in, size, o, room, 76) : 0;
    if (function == "wrp") return t.wrp ? t.wrp(in, size, o, room, 76) : 0;
    std::int64_t state = 0;
    if (function == "eol") return t.eol ? t.eol(in, size, o, state, line_end) : 0;
    if (function == "dot") return t.dot ? t.dot(in, size, o, state) : 0;
    return 0;
}

bool read_file(const std::string& path, std::vector<unsigned char>& data) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    unsigned char piece[1 << 16];
    std::size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) data.insert(data.end(), piece, piece + got);
    std::fclose(file);
    return true;
}

std::size_t from_env(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<std::size_t>(value) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <directory of the inputs> [function ...]\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const std::size_t chunk = from_env("KERNEL_CHUNK", 65536), passes = from_env("KERNEL_PASSES", 15);
    std::printf("function\tinput\tset\tMB/s of input\ttaken\n");
    for (const job& j : jobs) {
        bool wanted = argc == 2;
        for (int a = 2; a < argc; ++a) wanted = wanted || std::strcmp(argv[a], j.function) == 0;
        if (!wanted) continue;
        for (const char* kind : j.kinds) {
            if (kind == nullptr) continue;
            std::vector<unsigned char> in;
            if (!read_file(directory + "/" + kind + ".bin", in) || in.empty()) continue;
            // Room for the largest output of a call (an escape is three bytes a
            // byte) and the overrun a kernel may write past it.
            std::vector<unsigned char> out(3 * chunk + mime::kernel_overrun + 64);
            for (const mime::kernel_set& set : mime::kernel_sets()) {
                if (!mime::kernel_available(set)) continue;
                double best = 0;
                std::size_t taken = 0;
                for (std::size_t pass = 0; pass < passes; ++pass) {
                    taken = 0;
                    auto start = std::chrono::steady_clock::now();
                    for (std::size_t i = 0; i < in.size(); i += chunk) {
                        std::size_t size = in.size() - i < chunk ? in.size() - i : chunk;
                        taken += call(*set.table, j.function, in.data() + i, size, out.data());
                    }
                    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
                    double rate = static_cast<double>(in.size()) / seconds.count() / 1e6;
                    if (rate > best) best = rate;
                }
                if (taken == 0) continue;  // no kernel for this filter in the set
                std::printf("%s\t%s\t%s\t%.0f\t%.3f\n", j.function, kind, set.name, best,
                            static_cast<double>(taken) / static_cast<double>(in.size()));
            }
        }
    }
    return 0;
}
