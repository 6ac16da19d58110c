-- Turns the measurements of bench.lua and py_bench.py into bench/results.md and
-- the data file of the chart.
-- usage: lua report.lua <results.tsv> <results.md> <chart.dat> [note]
local results_path, markdown_path, chart_path, note = arg[1], arg[2], arg[3], arg[4]
local here = (arg[0]:match("^(.*)/[^/]*$") or ".") .. "/"
local K = dofile(here .. "kinds.lua")

local rates, over, spreads, memory, noise = {}, {}, {}, {}, {}
local interpreters, seen, python = {}, {}, nil
local function key(...) return table.concat({ ... }, "|") end
for line in io.lines(results_path) do
  local f = {}
  for field in line:gmatch("[^\t]+") do f[#f + 1] = field end
  if f[1] == "rate" then
    local tool, name, kind, chunk, impl = f[2], f[3], f[4], f[5], f[6]
    rates[key(tool, name, kind, chunk, impl)] = tonumber(f[7])
    over[key(tool, name, kind, chunk, impl)] = tonumber(f[8])
    spreads[#spreads + 1] = { tool = tool, impl = impl, chunk = chunk, value = tonumber(f[9]) }
    if tool:match("^Python") then
      python = tool
    elseif tool ~= "coreutils" and not seen[tool] then
      seen[tool] = true
      interpreters[#interpreters + 1] = tool
    end
  elseif f[1] == "memory" then
    memory[key(f[2], f[3], f[4])] = { output = tonumber(f[5]), module = tonumber(f[6]),
      baseline = tonumber(f[7]), floor = tonumber(f[8]) }
  elseif f[1] == "noise" then
    noise[f[2]] = { before = f[3], after = f[4] }
  end
end

-- Time over the floor; Python's against the floor of the interpreter named.
local function over_floor(tool, name, kind, chunk, impl)
  if impl == "python" then
    local p, floor = rates[key(python or "", name, kind, chunk, "python")], rates[key(tool, name, kind, chunk, "floor")]
    return p and floor and floor / p
  end
  return over[key(tool, name, kind, chunk, impl)]
end

local out = {}
local function say(...) out[#out + 1] = string.format(...) end
local function times(x, limit, below)
  if not x then return "-" end
  local text = string.format(x < 10 and "%.2f" or "%.1f", x)
  if limit and ((below and x < limit) or (not below and x > limit)) then return "**" .. text .. "**" end
  return text
end
local function rate(x)
  if not x then return "-" end
  return string.format(x < 10 and "%.1f" or "%.0f", x)
end

local cases = {}
for _, case in ipairs(K.cases) do
  for _, tool in ipairs(interpreters) do
    local found = false
    for _, size in ipairs({ 76, 2048, 65536, 0 }) do
      if rates[key(tool, case[1], case[2], K.chunk_label(size), "module")] then found = true end
    end
    if found then cases[#cases + 1] = case; break end
  end
end
-- The usual chunk sizes first, then any other that BENCH_CHUNKS chose.
local chunk_labels, known = {}, {}
for _, size in ipairs(K.chunkings) do
  chunk_labels[#chunk_labels + 1] = K.chunk_label(size)
  known[K.chunk_label(size)] = true
end
for _, item in ipairs(spreads) do
  if not known[item.chunk] then
    known[item.chunk] = true
    chunk_labels[#chunk_labels + 1] = item.chunk
  end
end
local L76, L2K, L64K, LCALL = K.chunk_label(76), K.chunk_label(2048), K.chunk_label(65536), K.chunk_label(0)

say("# Benchmark results")
say("")
say("`sh bench/run.sh`%s. MB/s are of input (10^6 bytes per second", note and (", " .. note) or "")
say("of CPU time), medians over the rounds. **Time over the floor** is a filter's time")
say("divided by the copy floor's, the median of that ratio within each round. The")
say("*floor* (bench/floor/) makes as many calls as the filter, each writing as many bytes")
say("as the filter's output for that call into a kept buffer and returning them as a")
say("new Lua string: no filter can do less. *module*: mime.core as built (the best")
say("kernels this CPU runs); *portable*: the same built with `MIME_KERNEL=scalar`;")
say("*per-byte*: the eight filters written a byte at a time with `luaL_addchar`")
say("(bench/baseline/); *Python*: %s's `binascii` on the same bytes and chunks, in", python or "Python")
say("its own process (its codecs keep no state between chunks, so they do a little less")
say("work). Chunks of 76 B, 2 KiB and 64 KiB cover the first 4 MiB of each input")
say("(BENCH_MIB); *8 MiB* is one call over the whole input, timed in a process of its")
say("own, where every block of 128 KiB or more is fresh memory (LuaJIT's allocator")
say("maps such blocks afresh anyway; glibc's, under Lua 5.1 and Python, is pinned to do")
say("the same), so that the figure does not depend on what ran before: faulting in")
say("fresh pages is what one large call costs most here (see the floor's MB/s at 8 MiB).")
say("For `eol` on text that already has CR LF the output is the input, which Lua 5.1")
say("and LuaJIT find interned: the floor then allocates nothing, and a filter's own")
say("working buffer is all that shows.")
say("")

local function section_floor()
  say("## Time over the copy floor")
  say("")
  say("The module; above 2.0 in bold.")
  say("")
  local head, rule = { "| function | input" }, { "|---|---" }
  for _, tool in ipairs(interpreters) do
    for _, chunk in ipairs({ L76, L64K, LCALL }) do
      head[#head + 1] = string.format(" | %s, %s", tool, chunk)
      rule[#rule + 1] = "|---:"
    end
  end
  say("%s |", table.concat(head))
  say("%s|", table.concat(rule))
  local within, total = 0, 0
  for _, case in ipairs(cases) do
    local row = { string.format("| `%s` | %s", case[1], case[2]) }
    for _, tool in ipairs(interpreters) do
      for _, chunk in ipairs({ L76, L64K, LCALL }) do
        local x = over_floor(tool, case[1], case[2], chunk, "module")
        if x then
          total = total + 1
          if x <= 2 then within = within + 1 end
        end
        row[#row + 1] = " | " .. times(x, 2)
      end
    end
    say("%s |", table.concat(row))
  end
  say("")
  say("%d of %d within 2.0x of the floor.", within, total)
  say("")
end

local function section_portable()
  local any = false
  for k in pairs(rates) do any = any or k:match("|portable$") ~= nil end
  if not any then return end
  say("## The portable build against the per-byte build")
  say("")
  say("Speed of the portable build (`MIME_KERNEL=scalar`) over the per-byte build's, in")
  say("the same rounds; below 2.0 in bold.")
  say("")
  local head, rule = { "| function | input" }, { "|---|---" }
  for _, tool in ipairs(interpreters) do
    for _, chunk in ipairs({ L2K, L64K }) do
      head[#head + 1] = string.format(" | %s, %s", tool, chunk)
      rule[#rule + 1] = "|---:"
    end
  end
  say("%s |", table.concat(head))
  say("%s|", table.concat(rule))
  local met, total = 0, 0
  for _, case in ipairs(cases) do
    local row = { string.format("| `%s` | %s", case[1], case[2]) }
    for _, tool in ipairs(interpreters) do
      for _, chunk in ipairs({ L2K, L64K }) do
        local p, b = over_floor(tool, case[1], case[2], chunk, "portable"), over_floor(tool, case[1], case[2], chunk, "per-byte")
        local x = p and b and b / p
        if x then
          total = total + 1
          if x >= 2 then met = met + 1 end
        end
        row[#row + 1] = " | " .. times(x, 2, true)
      end
    end
    say("%s |", table.concat(row))
  end
  say("")
  say("%d of %d at 2.0x or more.", met, total)
  say("")
end

local function section_details(tool)
  say("## %s: every figure", tool)
  say("")
  say("| function | input | chunk | module MB/s | portable | per-byte | Python | floor | module / floor | portable / floor | per-byte / floor | Python / floor |")
  say("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
  for _, case in ipairs(cases) do
    for _, chunk in ipairs(chunk_labels) do
      local function r(impl) return rates[key(impl == "python" and (python or "") or tool, case[1], case[2], chunk, impl)] end
      if r("module") then
        local function o(impl) return times(over_floor(tool, case[1], case[2], chunk, impl)) end
        say("| `%s` | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |", case[1], case[2], chunk,
          rate(r("module")), rate(r("portable")), rate(r("per-byte")), rate(r("python")), rate(r("floor")),
          o("module"), o("portable"), o("per-byte"), o("python"))
      end
    end
  end
  say("")
end

local function section_memory()
  local any = next(memory) ~= nil
  if not any then return end
  say("## Memory of one call over 8 MiB")
  say("")
  say("Bytes allocated through Lua during the call with the collector stopped (so")
  say("nothing is freed and every allocation counts), as a multiple of the output's size.")
  say("The floor allocates its string alone (its buffer is kept outside Lua).")
  say("")
  local head, rule = { "| function | input | output bytes" }, { "|---|---|---:" }
  for _, tool in ipairs(interpreters) do
    head[#head + 1] = string.format(" | module, %s | per-byte, %s", tool, tool)
    rule[#rule + 1] = "|---:|---:"
  end
  say("%s |", table.concat(head))
  say("%s|", table.concat(rule))
  for _, case in ipairs(cases) do
    local first = memory[key(interpreters[1], case[1], case[2])]
    if first and first.output > 0 then
      local row = { string.format("| `%s` | %s | %d", case[1], case[2], first.output) }
      for _, tool in ipairs(interpreters) do
        local m = memory[key(tool, case[1], case[2])]
        row[#row + 1] = m and string.format(" | %.2fx | %.2fx", m.module / m.output, m.baseline / m.output) or " | - | -"
      end
      say("%s |", table.concat(row))
    end
  end
  say("")
end

local function section_coreutils()
  local lines = {}
  for _, item in ipairs({ { "b64", "binary", "base64 -w0" }, { "unb64", "base64", "base64 -d -i" } }) do
    local c = rates[key("coreutils", item[1], item[2], LCALL, "coreutils")]
    if c then
      for _, tool in ipairs(interpreters) do
        local m = rates[key(tool, item[1], item[2], LCALL, "module")]
        local m64 = rates[key(tool, item[1], item[2], L64K, "module")]
        lines[#lines + 1] = string.format("| `%s` | %s | `%s` | %s | %s | %s | %s | %s | %s |", item[1], item[2],
          item[3], rate(c), tool, rate(m), m and string.format("%.1fx", m / c) or "-", rate(m64),
          m64 and string.format("%.1fx", m64 / c) or "-")
      end
    end
  end
  if #lines == 0 then return end
  say("## coreutils base64")
  say("")
  say("8 MiB through a process (wall-clock time, start-up included) against the module's")
  say("one call over the same 8 MiB and its 64 KiB chunks (which, like the command,")
  say("need no fresh memory).")
  say("")
  say("| function | input | command | its MB/s | interpreter | module, one call | module / it | module, 64 KiB | module / it |")
  say("|---|---|---|---:|---|---:|---:|---:|---:|")
  for _, line in ipairs(lines) do say("%s", line) end
  say("")
end

local function section_noise()
  say("## Noise")
  say("")
  say("How far a round strayed from the median of its measurement (the largest")
  say("deviation over the rounds, as a share of the median), over all measurements;")
  say("load average of the machine before and after each interpreter's run.")
  say("")
  say("| tool | measurements | median deviation | 90th percentile | largest | load before | load after |")
  say("|---|---:|---:|---:|---:|---:|---:|")
  local tools = {}
  for _, t in ipairs(interpreters) do tools[#tools + 1] = t end
  if python then tools[#tools + 1] = python end
  for _, tool in ipairs(tools) do
    local values = {}
    for _, item in ipairs(spreads) do
      if item.tool == tool and item.value then values[#values + 1] = item.value end
    end
    table.sort(values)
    if #values > 0 then
      local function at(share) return values[math.max(1, math.ceil(share * #values))] end
      local n = noise[tool] or {}
      say("| %s | %d | %.0f%% | %.0f%% | %.0f%% | %s | %s |", tool, #values, 100 * at(0.5), 100 * at(0.9),
        100 * values[#values], n.before or "-", n.after or "-")
    end
  end
  say("")
end

local function section_inputs()
  say("## Inputs")
  say("")
  say("8 MiB of each, drawn from fixed pseudo-random sequences (bench/kinds.lua):")
  say("")
  for _, kind in ipairs(K.kinds) do say("- `%s`: %s", kind.name, kind.about) end
  say("")
end

section_floor()
section_portable()
if interpreters[1] then
  say("![Time over the copy floor, %s](results.png)", interpreters[1])
  say("")
end
for _, tool in ipairs(interpreters) do section_details(tool) end
section_memory()
section_coreutils()
section_noise()
section_inputs()

local f = assert(io.open(markdown_path, "w"))
f:write(table.concat(out, "\n"), "\n")
f:close()

-- The chart: time over the floor on the first interpreter, one group per case.
if chart_path and interpreters[1] then
  local tool = interpreters[1]
  local c = assert(io.open(chart_path, "w"))
  c:write("# case, module at 76 B, 64 KiB, one 8 MiB call, per-byte at 64 KiB, Python at 64 KiB\n")
  for _, case in ipairs(cases) do
    local values = {}
    for _, item in ipairs({ { L76, "module" }, { L64K, "module" }, { LCALL, "module" }, { L64K, "per-byte" },
      { L64K, "python" } }) do
      local x = over_floor(tool, case[1], case[2], item[1], item[2])
      values[#values + 1] = x and string.format("%.3f", x) or "?"
    end
    c:write(string.format("\"%s %s\" %s\n", case[1], case[2], table.concat(values, " ")))
  end
  c:close()
end
io.write(table.concat(out, "\n"), "\n")
