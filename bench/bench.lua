-- The benchmark, on one interpreter: each case of bench/kinds.lua (a filter on a
-- kind of input) at each chunk size, timed side by side in this process for
--   module     mime.core as built (the best kernels this CPU runs)
--   portable   the same module built with MIME_KERNEL=scalar (at 2 KiB and 64 KiB)
--   per-byte   the per-byte reference module (bench/baseline/)
--   floor      the copy floor (bench/floor/): as many bytes as the module's
--              output, in as many calls, copied and returned as Lua strings
-- A round times each of them once (in turn, the order rotated every round);
-- figures are medians over the rounds, and a ratio over the floor is the median
-- of the ratios within each round, so that a noisy moment hits both sides.
--
-- usage: <lua> bench.lua <data directory> <results file>
--        <lua> bench.lua loop <function> <kind> <chunk size> [passes]
-- The first form is what bench/run.sh runs (it starts itself again, as
-- `bench.lua call ...`, for each one call over the whole input); the second
-- only runs one implementation over one case, for a profiler (bench/profile.sh).
--
-- Environment: BENCH_ONLY=qp,eol (functions), BENCH_KINDS=text,greek (kinds),
-- BENCH_CHUNKS=76,2K,64K,8M (8M: one call over the whole input), BENCH_ROUNDS=5,
-- BENCH_MIB=4 (MiB of input per chunked pass; one call always takes 8 MiB),
-- BENCH_MIN_MS=20 (a timing repeats a pass until it takes this long),
-- BENCH_MEMORY=0 (skip the memory of one call), BENCH_PORTABLE=<path of the
-- portable build's mime/core.so>.
--
-- Results go to the results file as tab-separated lines:
--   rate    tool function kind chunk implementation MB/s time-over-floor spread
--   memory  tool function kind output-bytes module per-byte floor (bytes)
--   noise   tool load-before load-after
local here = (arg[0]:match("^(.*)/[^/]*$") or ".") .. "/"
local K = dofile(here .. "kinds.lua")
local mime = require("mime.core")
local baseline = require("mime_baseline.core")
local copy = require("mime_floor").copy
local clock = os.clock
local tool = (jit and jit.version) or _VERSION

-- The portable build loads as a second mime.core: the first one's table is
-- kept here, and the second fills a table of its own.
local portable
if os.getenv("BENCH_PORTABLE") and os.getenv("BENCH_PORTABLE") ~= "" then
  local module = package.loaded.mime
  package.loaded.mime, mime = nil, {}
  for name, f in pairs(module) do mime[name] = f end
  _G.mime = nil
  local open = assert(package.loadlib(os.getenv("BENCH_PORTABLE"), "luaopen_mime_core"))
  portable = open("mime.core")
  assert(portable.b64 ~= mime.b64, "the portable build did not load apart")
end

local function number_from_env(name, default)
  local value = tonumber(os.getenv(name) or "")
  return value or default
end

--------------------------------------------------------------------------------
-- How each filter is called, as a caller does it: a pass over the chunks, then
-- the end-of-stream call.

local first_state = { b64 = "", unb64 = "", qp = "", unqp = "", wrp = 76, qpwrp = 76, eol = 0, dot = 2 }
local parameter = { wrp = 76, qpwrp = 76, eol = "\r\n" }

local passes = {}
local function codec_pass(f, chunks, n)
  local carry, out = ""
  for i = 1, n do out, carry = f(carry, chunks[i]) end
  out = f(carry, nil)
end
local function wrap_pass(f, chunks, n)
  local room, out = 76
  for i = 1, n do out, room = f(room, chunks[i], 76) end
  out = f(room, nil, 76)
end
passes.b64, passes.unb64, passes.qp, passes.unqp = codec_pass, codec_pass, codec_pass, codec_pass
passes.wrp, passes.qpwrp = wrap_pass, wrap_pass
passes.eol = function(f, chunks, n)
  local state, out = 0
  for i = 1, n do out, state = f(state, chunks[i], "\r\n") end
  out = f(state, nil, "\r\n")
end
passes.dot = function(f, chunks, n)
  local state, out = 2
  for i = 1, n do out, state = f(state, chunks[i]) end
  out = f(state, nil)
end
-- The floor's pass: the same number of calls, each copying the size of the
-- module's output for that call (sizes[n + 1]: the end-of-stream call).
local function floor_pass(f, chunks, n, sizes)
  local out
  for i = 1, n do out = f(chunks[i], sizes[i]) end
  out = f(chunks[n], sizes[n + 1])
end

-- Every output of one pass, the end-of-stream call's last.
local function outputs_of(name, f, chunks, n)
  local state, outputs, param = first_state[name], {}, parameter[name]
  for i = 1, n do outputs[i], state = f(state, chunks[i], param) end
  outputs[n + 1] = f(state, nil, param) or ""
  return outputs
end

local function split(s, size)
  if size == 0 then return { s } end
  local chunks = {}
  for i = 1, #s, size do chunks[#chunks + 1] = s:sub(i, i + size - 1) end
  return chunks
end

--------------------------------------------------------------------------------
-- The inputs: read from the data directory when an earlier run wrote them.

local data_dir = (arg[1] == "loop" and os.getenv("BENCH_DATA")) or (arg[1] == "call" and arg[2]) or arg[1]
local inputs = {}
local function input_of(kind)
  if inputs[kind] then return inputs[kind] end
  local path = data_dir and (data_dir .. "/" .. kind .. ".bin")
  local file = path and io.open(path, "rb")
  local data = file and file:read("*a")
  if file then file:close() end
  if not data or #data ~= K.size then
    data = K.kinds[kind].make(K.size, baseline)
    assert(#data == K.size, kind .. ": short input")
    if path then
      file = assert(io.open(path, "wb"))
      file:write(data)
      file:close()
    end
  end
  inputs[kind] = data
  return data
end

local pass_bytes = math.min(K.size, math.floor(number_from_env("BENCH_MIB", 4) * 1048576))

--------------------------------------------------------------------------------
-- The profiling loop: one implementation alone (BENCH_IMPL: module, the
-- default, per-byte or floor) over one case, `passes` times. With 0 passes it
-- does all the rest (reading, splitting, sizing the floor's outputs): the
-- difference between two counts is the cost of the passes alone.

if arg[1] == "loop" then
  local name, kind, size, count = arg[2], arg[3], K.parse_chunks(arg[4])[1], tonumber(arg[5] or "20")
  assert(passes[name] and K.kinds[kind], "usage: bench.lua loop <function> <kind> <chunk size> [passes]")
  local input = input_of(kind)
  local chunks = split(size == 0 and input or input:sub(1, pass_bytes), size)
  local n, sizes = #chunks, {}
  for i, out in ipairs(outputs_of(name, mime[name], chunks, n)) do sizes[i] = #out end
  local impl = os.getenv("BENCH_IMPL") or "module"
  local pass, f = passes[name], ({ module = mime[name], ["per-byte"] = baseline[name] })[impl]
  if impl == "floor" then pass, f = floor_pass, copy end
  assert(f, "BENCH_IMPL: module, per-byte or floor")
  collectgarbage()
  local start = clock()
  for _ = 1, count do pass(f, chunks, n, sizes) end
  local elapsed = clock() - start
  io.write(string.format("%s %s on %s, %s: %d passes of %d calls%s\n", impl, name, kind, K.chunk_label(size),
    count, n + 1, count > 0 and string.format(", %.0f MB/s of input", count * #table.concat(chunks) / 1e6 / elapsed) or ""))
  return
end

--------------------------------------------------------------------------------
-- Timing.

local rounds = math.max(1, math.floor(number_from_env("BENCH_ROUNDS", 5)))
local minimum = number_from_env("BENCH_MIN_MS", 20) / 1000

local function median(values)
  local sorted = {}
  for i, v in ipairs(values) do sorted[i] = v end
  table.sort(sorted)
  local n = #sorted
  if n % 2 == 1 then return sorted[(n + 1) / 2] end
  return (sorted[n / 2] + sorted[n / 2 + 1]) / 2
end

-- Seconds per pass, over `reps` passes. Each pass starts after a full
-- collection: Lua 5.1 and LuaJIT intern every string, and a result equal to one
-- of the pass before, dead but not yet swept, would be taken back instead of
-- being allocated and copied.
local function sample(pass, f, chunks, n, sizes, reps)
  local total = 0
  for _ = 1, reps do
    collectgarbage()
    local start = clock()
    pass(f, chunks, n, sizes)
    total = total + (clock() - start)
  end
  return total / reps
end

local function load_average()
  local file = io.open("/proc/loadavg")
  local line = file and file:read("*l")
  if file then file:close() end
  return line and line:match("^(%S+)") or "?"
end

local function measure(results, name, kind, size)
  local input = input_of(kind)
  if size ~= 0 then input = input:sub(1, pass_bytes) end
  local chunks = split(input, size)
  local n = #chunks

  -- Every build must give the per-byte reference's bytes (a sanity check here;
  -- the tests are what checks them).
  local expected = table.concat(outputs_of(name, baseline[name], chunks, n))
  local outputs = outputs_of(name, mime[name], chunks, n)
  assert(table.concat(outputs) == expected, name .. " on " .. kind .. ": the module and the per-byte reference differ")
  if portable and (size == 2048 or size == 65536) then
    assert(table.concat(outputs_of(name, portable[name], chunks, n)) == expected,
      name .. " on " .. kind .. ": the portable build and the per-byte reference differ")
  end
  local sizes = {}
  for i = 1, n + 1 do sizes[i] = #outputs[i] end
  -- Kept alive, the results would be found interned by every timed call.
  outputs, expected = nil, nil

  local runs = {
    { impl = "module", pass = passes[name], f = mime[name] },
    { impl = "per-byte", pass = passes[name], f = baseline[name] },
    { impl = "floor", pass = floor_pass, f = copy },
  }
  if portable and (size == 2048 or size == 65536) then
    table.insert(runs, 2, { impl = "portable", pass = passes[name], f = portable[name] })
  end
  for _, run in ipairs(runs) do
    local once = sample(run.pass, run.f, chunks, n, sizes, 1)
    run.reps = math.max(1, math.ceil(minimum / math.max(once, 1e-6)))
    run.times = {}
  end
  for round = 1, rounds do
    for k = 0, #runs - 1 do
      local run = runs[(round + k - 1) % #runs + 1]
      run.times[round] = sample(run.pass, run.f, chunks, n, sizes, run.reps)
    end
  end

  local floor_times = runs[#runs].times
  local label, mb = K.chunk_label(size), #input / 1e6
  local line = { string.format("%-6s %-17s %-7s", name, kind, label) }
  for _, run in ipairs(runs) do
    local ratios = {}
    for round = 1, rounds do ratios[round] = run.times[round] / floor_times[round] end
    local t = median(run.times)
    local spread = 0
    for round = 1, rounds do spread = math.max(spread, math.abs(run.times[round] - t) / t) end
    results:write(string.format("rate\t%s\t%s\t%s\t%s\t%s\t%.1f\t%.3f\t%.3f\n", tool, name, kind, label, run.impl,
      mb / t, median(ratios), spread))
    line[#line + 1] = string.format("%s %.0f (%.2f)", run.impl, mb / t, median(ratios))
  end
  io.write(table.concat(line, "  "), "\n")
  io.flush()
end

-- Memory taken by one call over the whole input, with the collector stopped:
-- every allocation the call makes stays counted.
local function memory(results, name, kind)
  local input = input_of(kind)
  local function allocated(f, ...)
    collectgarbage()
    collectgarbage("stop")
    local before = collectgarbage("count")
    local out = f(...)
    local used = (collectgarbage("count") - before) * 1024
    collectgarbage("restart")
    return used, out and #out or 0
  end
  local used, size = allocated(mime[name], first_state[name], input, parameter[name])
  local baseline_used = allocated(baseline[name], first_state[name], input, parameter[name])
  local floor_used = allocated(copy, input, size)
  results:write(string.format("memory\t%s\t%s\t%s\t%d\t%d\t%d\t%d\n", tool, name, kind, size, used, baseline_used,
    floor_used))
end

-- One call over the whole input runs in a process of its own, with fresh memory
-- for every block of 128 KiB or more. Whether an allocator has freed memory at
-- hand for a result of 8 MiB or must fault in fresh pages (which can cost more
-- than the filtering) depends on what ran before: LuaJIT's own allocator maps
-- large blocks afresh every time, glibc's (Lua 5.1) does so until its threshold
-- adapts to what was freed. Pinning glibc's threshold makes both alike and the
-- figure the same whatever else is chosen.
if arg[1] == "call" then
  local results = assert(io.open(arg[3], "a"))
  if arg[6] == "1" then measure(results, arg[4], arg[5], 0) end
  if arg[7] == "1" then memory(results, arg[4], arg[5]) end
  results:close()
  return
end

local function quote(s) return "'" .. s:gsub("'", "'\\''") .. "'" end
local function in_own_process(results, name, kind, timed, measured)
  results:flush()
  local command = table.concat({ "MALLOC_MMAP_THRESHOLD_=131072", quote(arg[-1]), quote(arg[0]), "call", quote(arg[1]), quote(arg[2]), name, kind,
    timed and "1" or "0", measured and "1" or "0" }, " ")
  local status = os.execute(command)
  assert(status == 0 or status == true, "failed: " .. command)
end

local results = assert(io.open(arg[2], "a"))
local cases = K.chosen_cases(K.set_of(os.getenv("BENCH_ONLY")), K.set_of(os.getenv("BENCH_KINDS")))
local chunkings = K.parse_chunks(os.getenv("BENCH_CHUNKS"))
io.write(string.format("%s: MB/s of input (median of %d rounds) and, in brackets, time over the floor's\n",
  tool, rounds))
io.flush()
local load_before, started = load_average(), os.time()
for _, case in ipairs(cases) do
  local whole = false
  for _, size in ipairs(chunkings) do
    if size == 0 then whole = true else measure(results, case[1], case[2], size) end
  end
  local measured = os.getenv("BENCH_MEMORY") ~= "0"
  if whole or measured then in_own_process(results, case[1], case[2], whole, measured) end
end
results:write(string.format("noise\t%s\t%s\t%s\n", tool, load_before, load_average()))
results:close()
io.write(string.format("%s: %d s\n", tool, os.time() - started))
