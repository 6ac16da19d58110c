-- Throughput of the eight filters, side by side with the per-byte reference
-- module (mime_baseline.core) and the floor (making a new string of the output's
-- size), for chunks of 2 KiB and 64 KiB and one call over the whole input.
-- Run by bench/run.sh; usage: <lua> bench.lua <data directory> <results file>
-- Writes the test data to the data directory (for the other tools) and appends
-- one tab-separated line per measurement to the results file:
--   interpreter  function  chunk  implementation  MB/s
local data_dir, results_path = arg[1], arg[2]
local mime = require("mime.core")
local baseline = require("mime_baseline.core")
local interpreter = (jit and jit.version) or _VERSION
local SIZE = 8 * 1024 * 1024
local ROUNDS = tonumber(os.getenv("BENCH_ROUNDS") or "5")
local clock = os.clock

-- A fixed pseudo-random sequence, the same on every interpreter.
local seed = 12345
local function random(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return math.floor(seed / 65536) % n
end

local unpack_bytes = unpack or table.unpack
local function binary(size)
  local parts = {}
  for i = 1, size / 1024 do
    local bytes = {}
    for j = 1, 1024 do bytes[j] = random(256) end
    parts[i] = string.char(unpack_bytes(bytes))
  end
  return table.concat(parts)
end

-- E-mail prose: words, punctuation, some 8-bit letters (UTF-8), "=" signs,
-- trailing spaces, lines starting with ".", CR LF line ends.
local words = { "the", "message", "body", "of", "a", "mail", "is", "text", "and", "lines",
  "gr\195\188\195\159e", "caf\195\169", "na\195\175ve", "x=1", "a+b=c", "reply", "to", "all",
  "regards", "meeting", "tomorrow", "at", "ten", "o'clock", "please", "find", "attached",
  "\226\130\172100", "the", "report", "(draft)", "--", "see", "you", "then", "thanks!" }
local function prose(size)
  local lines, total = {}, 0
  while total < size do
    local line, width = {}, 20 + random(55)
    local n = 0
    if random(40) == 0 then line[1] = "." ; n = 1 end
    while n < width do
      local w = words[random(#words) + 1]
      line[#line + 1] = w
      n = n + #w + 1
      if random(12) == 0 then line[#line] = w .. "." end
    end
    local text = table.concat(line, " ")
    if random(8) == 0 then text = text .. "  " end
    lines[#lines + 1] = text .. "\r\n"
    total = total + #text + 2
  end
  return table.concat(lines):sub(1, size)
end

local function whole(f, input, ...)
  local out, rest = f("", input, ...)
  local tail = f(rest, nil, ...)
  return out .. (tail or "")
end

local inputs = {}
local random_mib = binary(1024 * 1024)
inputs.b64 = string.rep(random_mib, SIZE / (1024 * 1024))
local base64 = whole(mime.b64, inputs.b64:sub(1, SIZE * 3 / 4))
inputs.wrp = base64:sub(1, SIZE)
inputs.unb64 = (mime.wrp(76, base64:sub(1, SIZE * 76 / 78 + 76), 76)):sub(1, SIZE)
inputs.qp = prose(SIZE)
inputs.eol = inputs.qp
inputs.dot = inputs.qp
local qp_text = whole(mime.qp, prose(SIZE))
inputs.qpwrp = qp_text:sub(1, SIZE)
inputs.unqp = (mime.qpwrp(76, qp_text, 76)):sub(1, SIZE)
for name, input in pairs(inputs) do assert(#input == SIZE, name .. ": short test data") end

local order = { "b64", "unb64", "qp", "unqp", "qpwrp", "wrp", "eol", "dot" }
for _, name in ipairs(order) do
  local f = assert(io.open(data_dir .. "/" .. name .. ".bin", "wb"))
  f:write(inputs[name])
  f:close()
end

-- One pass of a whole stream through `f`, chunk by chunk, as a caller does it.
local runners = {}
local function codec_run(name)
  return function(f, chunks)
    local carry, out = ""
    for i = 1, #chunks do out, carry = f(carry, chunks[i]) end
    out = f(carry, nil)
  end
end
runners.b64, runners.unb64, runners.qp, runners.unqp =
  codec_run(), codec_run(), codec_run(), codec_run()
local function wrap_run(f, chunks)
  local room, out = 76
  for i = 1, #chunks do out, room = f(room, chunks[i], 76) end
  out = f(room, nil, 76)
end
runners.wrp, runners.qpwrp = wrap_run, wrap_run
runners.eol = function(f, chunks)
  local state, out = 0
  for i = 1, #chunks do out, state = f(state, chunks[i], "\r\n") end
end
runners.dot = function(f, chunks)
  local state, out = 2
  for i = 1, #chunks do out, state = f(state, chunks[i]) end
end

-- The floor: a new string of each output's size, made from one of that size.
local function floor_run(_, sized)
  local x
  for i = 1, #sized do x = sized[i] .. "x" end
end

local function split(s, size)
  local chunks = {}
  for i = 1, #s, size do chunks[#chunks + 1] = s:sub(i, i + size - 1) end
  return chunks
end

-- Output sizes per chunk, as strings to copy for the floor.
local function output_sizes(name, chunks)
  local f, sized = mime[name], {}
  if name == "b64" or name == "unb64" or name == "qp" or name == "unqp" then
    local carry = ""
    for i = 1, #chunks do
      local out
      out, carry = f(carry, chunks[i])
      sized[i] = string.rep("y", #out - 1 >= 0 and #out - 1 or 0)
    end
  else
    local state = (name == "dot") and 2 or (name == "eol") and 0 or 76
    for i = 1, #chunks do
      local out
      out, state = f(state, chunks[i], name == "eol" and "\r\n" or (name ~= "dot" and 76 or nil))
      sized[i] = string.rep("y", #out - 1 >= 0 and #out - 1 or 0)
    end
  end
  return sized
end

-- Seconds for one pass, the best of several; a pass is repeated until it
-- takes long enough to time.
local function time_pass(run, f, chunks)
  local reps, elapsed = 1, 0
  while true do
    collectgarbage()
    local start = clock()
    for _ = 1, reps do run(f, chunks) end
    elapsed = clock() - start
    if elapsed >= 0.05 then return elapsed / reps end
    reps = reps * 2
  end
end

-- The two implementations agree on the data (a sanity check, not a test).
for _, name in ipairs(order) do
  local chunks = split(inputs[name], 65536)
  local a, b = {}, {}
  local function collect(f, into)
    if runners[name] == wrap_run then
      local room = 76
      for i = 1, #chunks do into[i], room = f(room, chunks[i], 76) end
    elseif name == "eol" or name == "dot" then
      local state = name == "dot" and 2 or 0
      for i = 1, #chunks do into[i], state = f(state, chunks[i]) end
    else
      local carry = ""
      for i = 1, #chunks do into[i], carry = f(carry, chunks[i]) end
    end
  end
  collect(mime[name], a)
  collect(baseline[name], b)
  assert(table.concat(a) == table.concat(b), name .. ": the module and the per-byte reference differ")
end

local results = assert(io.open(results_path, "a"))
local chunkings = { { "2 KiB", 2048 }, { "64 KiB", 65536 }, { "8 MiB", SIZE } }
io.write(string.format("%s: MB/s of input (best of %d)\n", interpreter, ROUNDS))
io.write(string.format("%-6s %-7s %9s %9s %9s %7s\n", "", "chunk", "module", "per-byte", "floor", "ratio"))
for _, name in ipairs(order) do
  for _, chunking in ipairs(chunkings) do
    local label, size = chunking[1], chunking[2]
    local chunks = split(inputs[name], size)
    local sized = output_sizes(name, chunks)
    local best = { module = math.huge, baseline = math.huge, floor = math.huge }
    for _ = 1, ROUNDS do
      best.module = math.min(best.module, time_pass(runners[name], mime[name], chunks))
      best.baseline = math.min(best.baseline, time_pass(runners[name], baseline[name], chunks))
      best.floor = math.min(best.floor, time_pass(floor_run, nil, sized))
    end
    local mb = #inputs[name] / 1e6
    local rate = { module = mb / best.module, baseline = mb / best.baseline, floor = mb / best.floor }
    for _, impl in ipairs({ "module", "baseline", "floor" }) do
      results:write(string.format("%s\t%s\t%s\t%s\t%.1f\n", interpreter, name, label, impl, rate[impl]))
    end
    io.write(string.format("%-6s %-7s %9.0f %9.0f %9.0f %6.1fx\n", name, label, rate.module,
      rate.baseline, rate.floor, rate.module / rate.baseline))
    io.flush()
  end
end

-- Memory taken by one call over the whole input, with the collector stopped:
-- every allocation the call makes stays counted. A result built without
-- repeated copying costs its working buffer and the string (about twice the
-- output); growing by doubling would cost up to twice more.
io.write("one call over 8 MiB, collector stopped: output and memory allocated by the call\n")
for _, name in ipairs(order) do
  local function measure(f)
    local first = name == "dot" and 2 or (name == "eol" and 0) or (runners[name] == wrap_run and 76) or ""
    collectgarbage()
    collectgarbage("stop")
    local before = collectgarbage("count")
    local out = f(first, inputs[name])
    local used = (collectgarbage("count") - before) * 1024
    collectgarbage("restart")
    return #out, used
  end
  local size, used = measure(mime[name])
  local _, baseline_used = measure(baseline[name])
  results:write(string.format("%s\t%s\t8 MiB\tmemory-output\t%d\n", interpreter, name, size))
  results:write(string.format("%s\t%s\t8 MiB\tmemory-module\t%d\n", interpreter, name, used))
  results:write(string.format("%s\t%s\t8 MiB\tmemory-baseline\t%d\n", interpreter, name, baseline_used))
  io.write(string.format("%-6s output %9d bytes; module allocated %.2fx the output, per-byte build %.2fx\n",
    name, size, used / size, baseline_used / size))
end

-- A pure-Lua Base64, where one is installed (Debian's lua-basexx).
local ok, basexx = pcall(require, "basexx")
if ok then
  local small = inputs.b64:sub(1, 1024 * 1024)
  local encoded = basexx.to_base64(small)
  local function rate_of(f, s)
    local best = math.huge
    for _ = 1, 3 do
      local start = clock()
      f(s)
      best = math.min(best, clock() - start)
    end
    return #s / 1e6 / best
  end
  local enc, dec = rate_of(basexx.to_base64, small), rate_of(basexx.from_base64, encoded)
  results:write(string.format("%s\tb64\t1 MiB\tbasexx\t%.1f\n", interpreter, enc))
  results:write(string.format("%s\tunb64\t1 MiB\tbasexx\t%.1f\n", interpreter, dec))
  io.write(string.format("basexx (pure Lua), one call over 1 MiB: b64 %.1f MB/s, unb64 %.1f MB/s\n", enc, dec))
end
results:close()
