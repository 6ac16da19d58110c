-- Turns the measurements of bench.lua and py_bench.py into bench/results.md and
-- the data file of the chart. usage: lua report.lua <results.tsv> <results.md> <chart.dat>
local results_path, markdown_path, chart_path = arg[1], arg[2], arg[3]

local rows, interpreters, seen = {}, {}, {}
for line in io.lines(results_path) do
  local tool, name, chunk, impl, rate = line:match("^([^\t]+)\t([^\t]+)\t([^\t]+)\t([^\t]+)\t([^\t]+)$")
  if tool then
    rows[tool .. "|" .. name .. "|" .. chunk .. "|" .. impl] = tonumber(rate)
    if (impl == "module") and not seen[tool] then
      seen[tool] = true
      interpreters[#interpreters + 1] = tool
    end
  end
end
local function get(tool, name, chunk, impl) return rows[tool .. "|" .. name .. "|" .. chunk .. "|" .. impl] end
local python
for key in pairs(rows) do
  local tool = key:match("^(Python[^|]*)|")
  if tool then python = tool end
end

local order = { "b64", "unb64", "qp", "unqp", "qpwrp", "wrp", "eol", "dot" }
local chunks = { "2 KiB", "64 KiB", "8 MiB" }
local out = {}
local function say(...) out[#out + 1] = string.format(...) end
local function ratio(a, b) return (a and b) and string.format("%.1fx", a / b) or "n/a" end
local function rate(x)
  if not x then return "n/a" end
  return string.format(x < 10 and "%.1f" or "%.0f", x)
end

say("# Benchmark results")
say("")
say("MB/s of input (10^6 bytes per second of CPU time, best of several runs), all")
say("measured side by side in one run of `sh bench/run.sh` on this machine. *module*:")
say("mime.core as built; *per-byte*: the same eight filters written a byte at a time")
say("with `luaL_addchar` (bench/baseline/); *floor*: making a new Lua string of the")
say("output's size from one of that size (`s .. \"x\"`), which every call pays once.")
say("")
for _, tool in ipairs(interpreters) do
  say("## %s", tool)
  say("")
  say("| function | chunk | module | per-byte | module / per-byte | floor | module / floor |")
  say("|---|---|---:|---:|---:|---:|---:|")
  for _, name in ipairs(order) do
    for _, chunk in ipairs(chunks) do
      local m, b, f = get(tool, name, chunk, "module"), get(tool, name, chunk, "baseline"), get(tool, name, chunk, "floor")
      if m then
        say("| `%s` | %s | %s | %s | **%s** | %s | %s |", name, chunk, rate(m), rate(b), ratio(m, b), rate(f),
          f and string.format("%.0f%%", 100 * m / f) or "n/a")
      end
    end
  end
  say("")
end

local lua51 = interpreters[1]
for _, tool in ipairs(interpreters) do
  if get(tool, "b64", "8 MiB", "memory-output") then
    say("## Memory of one call over 8 MiB (%s)", tool)
    say("")
    say("Bytes allocated during the call with the collector stopped (so nothing is")
    say("freed and every allocation counts), as a multiple of the output's size. The")
    say("module writes into one buffer reserved up front and copies it once into the")
    say("result string: about 2x. Lua 5.1's own luaL_Buffer, used by the per-byte")
    say("build, joins its pieces as it goes.")
    say("")
    say("| function | output bytes | module | per-byte build |")
    say("|---|---:|---:|---:|")
    for _, name in ipairs(order) do
      local size = get(tool, name, "8 MiB", "memory-output")
      if size and size > 0 then
        say("| `%s` | %d | %.2fx | %.2fx |", name, size, get(tool, name, "8 MiB", "memory-module") / size,
          get(tool, name, "8 MiB", "memory-baseline") / size)
      end
    end
    say("")
  end
end
if python and lua51 then
  say("## Against Python's C codecs (binascii, behind base64 and quopri)")
  say("")
  say("Module on %s against %s on the same bytes and chunks (Python's codecs keep", lua51, python)
  say("no state between chunks, so they do slightly less work).")
  say("")
  say("| function | chunk | module | Python | module / Python |")
  say("|---|---|---:|---:|---:|")
  local python_names = { b64 = "b2a_base64", unb64 = "a2b_base64", qp = "b2a_qp", unqp = "a2b_qp" }
  for _, name in ipairs({ "b64", "unb64", "qp", "unqp" }) do
    for _, chunk in ipairs(chunks) do
      local m, p = get(lua51, name, chunk, "module"), get(python, name, chunk, "python")
      if m and p then say("| `%s` (%s) | %s | %s | %s | **%s** |", name, python_names[name], chunk, rate(m), rate(p), ratio(m, p)) end
    end
  end
  say("")
end

local others = {}
for _, name in ipairs({ "b64", "unb64" }) do
  local c = get("coreutils", name, "8 MiB", "coreutils")
  if c and lua51 then
    others[#others + 1] = string.format("| coreutils `base64%s`, 8 MiB through a process | `%s` | %s | %s | %s |",
      name == "b64" and " -w0" or " -d -i", name, rate(c), rate(get(lua51, name, "8 MiB", "module")),
      ratio(get(lua51, name, "8 MiB", "module"), c))
  end
  for _, tool in ipairs(interpreters) do
    local x = get(tool, name, "1 MiB", "basexx")
    if x then
      others[#others + 1] = string.format("| lua-basexx (pure Lua) on %s, one call over 1 MiB | `%s` | %s | %s | %s |",
        tool, name, rate(x), rate(get(tool, name, "8 MiB", "module")), ratio(get(tool, name, "8 MiB", "module"), x))
    end
  end
end
if #others > 0 then
  say("## Other Base64 implementations")
  say("")
  say("| implementation | function | its MB/s | module, one 8 MiB call | module / it |")
  say("|---|---|---:|---:|---:|")
  for _, line in ipairs(others) do say("%s", line) end
  say("")
end

if lua51 then
  say("## Targets (%s)", lua51)
  say("")
  say("| function | 64 KiB vs per-byte (target) | 2 KiB vs per-byte (target) | 8 MiB vs per-byte (target 2x) | vs Python, 64 KiB (target 2x) |")
  say("|---|---|---|---|---|")
  local t64 = { b64 = 12, unb64 = 10, qp = 6 }
  local t2 = { b64 = 4, unb64 = 3, qp = 4 }
  local function mark(value, target)
    if not value then return "n/a" end
    return string.format("%.1fx (%dx) %s", value, target, value >= target and "met" or "**missed**")
  end
  for _, name in ipairs(order) do
    local function vs(chunk) local m, b = get(lua51, name, chunk, "module"), get(lua51, name, chunk, "baseline"); return m and b and m / b end
    local p = python and get(python, name, "64 KiB", "python")
    local m = get(lua51, name, "64 KiB", "module")
    say("| `%s` | %s | %s | %s | %s |", name, mark(vs("64 KiB"), t64[name] or 4), mark(vs("2 KiB"), t2[name] or 3),
      mark(vs("8 MiB"), 2), p and mark(m / p, 2) or "-")
  end
  say("")
  say("![MB/s on %s, 64 KiB chunks](results.png)", lua51)
  say("")
end

local f = assert(io.open(markdown_path, "w"))
f:write(table.concat(out, "\n"), "\n")
f:close()

-- The chart: the first interpreter, 64 KiB chunks.
if chart_path and lua51 then
  local c = assert(io.open(chart_path, "w"))
  c:write("# function module per-byte python floor\n")
  for _, name in ipairs(order) do
    local p = python and get(python, name, "64 KiB", "python")
    c:write(string.format("%s %s %s %s %s\n", name, get(lua51, name, "64 KiB", "module") or "?",
      get(lua51, name, "64 KiB", "baseline") or "?", p or "?", get(lua51, name, "64 KiB", "floor") or "?"))
  end
  c:close()
end
io.write(table.concat(out, "\n"), "\n")
