// Many states on many threads: eight threads start together, each opens the
// module in a Lua state of its own (of the Lua this host is built with) and streams the same data through every
// filter, in chunks of many sizes, several times over. Every result must match
// the one a single thread gets afterwards. The threads run first, so that the
// module's first use (and any one-time set-up behind it) happens on all of them
// at once. Built with ThreadSanitizer (MIME_SANITIZE=thread) it also shows that
// the states share nothing that is written. Half of the threads pin a kernel set
// of their own (each set the CPU has, in turn); the others keep the default, so
// one thread's choice must not reach another's results.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "kernels/kernels.hpp"
#include "mixed_data.hpp"

extern "C" int luaopen_mime_core(lua_State* L);

namespace {

// States allocate from the C heap, whose reuse of memory across threads the
// thread sanitizer follows (LuaJIT's own allocator maps and reuses pages
// behind its back, which it would report as races on the strings' bytes).
void* heap_alloc(void*, void* block, std::size_t, std::size_t size) {
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

constexpr int thread_count = 8;
int rounds = 4;

// Streams `data` through every filter with chunk sizes drawn from `seed`; returns
// all outputs and final states, joined.
const char script[] = R"lua(
function run(data, seed)
  local x = seed
  local function size()
    x = (x * 1103515245 + 12345) % 2147483648
    local r = x % 100
    if r < 10 then return 0 end
    if r < 60 then return x % 7 + 1 end
    if r < 90 then return x % 300 + 1 end
    return x % 40000 + 1
  end
  local function pieces(text)
    local list, pos = {}, 1
    while pos <= #text do
      local n = size()
      list[#list + 1] = text:sub(pos, pos + n - 1)
      pos = pos + n
    end
    return list
  end
  local out = {}
  local codecs = {
    { "b64" }, { "unb64" }, { "qp", "\r\n" }, { "qp", "<line end>" }, { "unqp" },
  }
  for _, entry in ipairs(codecs) do
    local name, extra = entry[1], entry[2]
    local carry, parts = "", {}
    for _, chunk in ipairs(pieces(data)) do
      parts[#parts + 1], carry = mime[name](carry, chunk, extra)
    end
    parts[#parts + 1] = mime[name](carry, nil, extra) or ""
    out[#out + 1] = table.concat(parts)
  end
  local filters = {
    { "wrp", 76, 76 }, { "wrp", 0, 0 }, { "wrp", 2147483647, -5 },
    { "qpwrp", 76, 76 }, { "qpwrp", 3, 4 },
    { "eol", 0, "\r\n" }, { "eol", 13, "\n" }, { "eol", 10, "<>" },
    { "dot", 2 }, { "dot", 1 },
  }
  for _, entry in ipairs(filters) do
    local name, state, extra = entry[1], entry[2], entry[3]
    local parts = {}
    for _, chunk in ipairs(pieces(data)) do
      parts[#parts + 1], state = mime[name](state, chunk, extra)
    end
    local last, final = mime[name](state, nil, extra)
    parts[#parts + 1] = (last or "") .. "|" .. tostring(final)
    out[#out + 1] = table.concat(parts)
  end
  -- A chain: encode, wrap, decode.
  local encoded = mime.b64(data, nil) or ""
  local wrapped = (mime.wrp(76, encoded, 76)) .. (mime.wrp(0, nil, 76) or "")
  out[#out + 1] = tostring(mime.unb64(wrapped, nil) == data)
  return table.concat(out, "\0|\0")
end
)lua";

struct job {
    const char* data;
    std::size_t size;
    int seed;
};

int open_all(lua_State* L) {
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_mime_core);
    lua_call(L, 0, 0);
    if (luaL_loadbuffer(L, script, sizeof script - 1, "threads script") != 0) lua_error(L);
    lua_call(L, 0, 0);
    return 0;
}

// Runs the script's `run`; leaves the result in the global RESULT.
int run_job(lua_State* L) {
    const job* j = static_cast<const job*>(lua_touserdata(L, 1));
    lua_getglobal(L, "run");
    lua_pushlstring(L, j->data, j->size);
    lua_pushinteger(L, j->seed);
    lua_call(L, 2, 1);
    lua_setglobal(L, "RESULT");
    return 0;
}

// One state, `rounds` runs; results[r] gets round r's output. Returns an error
// text, empty when all went well.
std::string run_state(const std::string& data, std::vector<std::string>& results) {
    lua_State* L = lua_newstate(heap_alloc, nullptr);
    if (L == nullptr) return "no state";
    lua_pushcfunction(L, open_all);
    if (lua_pcall(L, 0, 0, 0) != 0) {
        std::string e = lua_tostring(L, -1);
        lua_close(L);
        return e;
    }
    for (int r = 0; r < rounds; ++r) {
        job j{data.data(), data.size(), 1000 + r};
        lua_pushcfunction(L, run_job);
        lua_pushlightuserdata(L, &j);
        if (lua_pcall(L, 1, 0, 0) != 0) {
            std::string e = lua_tostring(L, -1);
            lua_close(L);
            return e;
        }
        lua_getglobal(L, "RESULT");
        std::size_t n = 0;
        const char* s = lua_tolstring(L, -1, &n);
        results[r].assign(s, n);
        lua_pop(L, 1);
    }
    lua_close(L);
    return "";
}

std::string mixed_data(std::size_t size) {
    static const char alphabet[] = "ABCdef012+/= .\t\r\n\r\n.\xe9\x00\xff=4a=\r\n";
    return draw_bytes(size, 2463534242u, alphabet);
}

}  // namespace

// usage: mime_threads_host [KiB of data, default 192] [rounds, default 4]
int main(int argc, char** argv) {
    std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 192;
    if (argc > 2) rounds = std::atoi(argv[2]);
    if (kib == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: %s [KiB of data] [rounds]\n", argv[0]);
        return 2;
    }
    const std::string data = mixed_data(kib * 1024);
    std::vector<std::vector<std::string>> results(thread_count, std::vector<std::string>(rounds));
    std::vector<std::string> errors(thread_count);
    std::atomic<int> ready{0};
    std::vector<const mime::kernel_set*> sets;
    for (const mime::kernel_set& set : mime::kernel_sets())
        if (mime::kernel_available(set)) sets.push_back(&set);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            // All threads open their states at the same moment.
            ready.fetch_add(1);
            while (ready.load() < thread_count) std::this_thread::yield();
            if (t % 2 == 1) mime::use_kernels(*sets[(t / 2) % sets.size()]);
            errors[t] = run_state(data, results[t]);
        });
    }
    for (std::thread& t : threads) t.join();

    std::vector<std::string> single(rounds);
    std::string error = run_state(data, single);
    if (!error.empty()) {
        std::fprintf(stderr, "single thread: %s\n", error.c_str());
        return 1;
    }
    int problems = 0;
    for (int r = 0; r < rounds; ++r) {
        if (single[r].size() < data.size() || single[r].substr(single[r].size() - 4) != "true") {
            std::fprintf(stderr, "round %d: the single-threaded chain does not give the data back\n", r);
            ++problems;
        }
    }
    for (int t = 0; t < thread_count; ++t) {
        if (!errors[t].empty()) {
            std::fprintf(stderr, "thread %d: %s\n", t, errors[t].c_str());
            ++problems;
            continue;
        }
        for (int r = 0; r < rounds; ++r) {
            if (results[t][r] != single[r]) {
                std::fprintf(stderr, "thread %d, round %d: result differs from the single-threaded run\n", t, r);
                ++problems;
            }
        }
    }
    if (problems != 0) return 1;
    std::printf("threads: %d states on %d threads, %d rounds each, %zu bytes of results per round: all "
                "match the single-threaded run (kernel sets:",
                thread_count, thread_count, rounds, single[0].size());
    for (const mime::kernel_set* set : sets) std::printf(" %s", set->name);
    std::printf(")\n");
    return 0;
}
