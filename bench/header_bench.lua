-- Speed of mime.header on 1 KiB values, side by side with Python's
-- email.header on the same values (bench/header_bench.py, when python3 is on
-- the PATH). Not part of the test suite. From the top of the tree, after
-- building:
--
--   LUA_CPATH="./build/?.so;;" LUA_PATH="./lua/?.lua;;" lua5.1 bench/header_bench.lua
--   LUA_CPATH="./build/lua-luajit/?.so;;" LUA_PATH="./lua/?.lua;;" luajit bench/header_bench.lua
--
-- Prints microseconds per call (the best of BENCH_ROUNDS rounds, default 5, of
-- CPU time) for encode and for decode of the text encode wrote; Python decodes
-- the same text with decode_header and make_header.
local header = require "mime.header"
local ROUNDS = tonumber(os.getenv("BENCH_ROUNDS") or "5")
local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"

-- 1 KiB values: a Subject in German (a few letters to encode), one in
-- Japanese (every character to encode) and plain ASCII (folding only).
local function kibibyte(words)
  local parts, size, i = {}, 0, 0
  while size < 1024 do
    i = i + 1
    local word = words[(i - 1) % #words + 1]
    parts[#parts + 1] = word
    size = size + #word + 1
  end
  return table.concat(parts, " "):sub(1, 1024):gsub("[\128-\191]+$", ""):gsub("[\192-\255]$", "")
end
local VALUES = {
  { "German", kibibyte({ "Gr\195\188\195\159e", "aus", "M\195\188nchen", "und", "sch\195\182ne",
    "Tage", "f\195\188r", "alle", "Kollegen", "im", "B\195\188ro" }) },
  { "Japanese", kibibyte({ "\230\151\165\230\156\172\232\170\158\227\129\174",
    "\228\187\182\229\144\141\227\129\167\227\129\153" }) },
  { "ASCII", kibibyte({ "Weekly", "report", "for", "the", "team", "meeting", "on", "Monday" }) },
}

-- Microseconds per call of fn(argument): the best round.
local function time(fn, argument)
  local best = math.huge
  for _ = 1, ROUNDS do
    local calls, start = 0, os.clock()
    repeat
      for _ = 1, 20 do fn(argument) end
      calls = calls + 20
    until os.clock() - start >= 0.1
    best = math.min(best, (os.clock() - start) / calls)
  end
  return best * 1e6
end

local function hex(s) return (s:gsub(".", function(c) return ("%02x"):format(c:byte()) end)) end

local lines, rows = {}, {}
for index, entry in ipairs(VALUES) do
  local name, value = entry[1], entry[2]
  local encoded = header.encode(value, { name = "Subject" })
  assert(header.decode(encoded) == value)
  rows[index] = { name = name, encode = time(header.encode, value),
    decode = time(header.decode, encoded) }
  lines[#lines + 1] = name .. "\t" .. hex(value) .. "\t" .. hex(encoded) .. "\n"
end

local python = {}
local input = os.tmpname()
local file = assert(io.open(input, "wb"))
file:write(table.concat(lines))
file:close()
local pipe =
  io.popen(("python3 '%sheader_bench.py' '%s' %d 2>/dev/null"):format(here, input, ROUNDS))
for line in pipe:lines() do
  local name, encode, decode = line:match("^(%S+)\t(%S+)\t(%S+)$")
  if name then python[name] = { encode = tonumber(encode), decode = tonumber(decode) } end
end
pipe:close()
os.remove(input)

local function ratio(theirs, ours) return theirs and ("%.1f"):format(theirs / ours) or "-" end
local function number(x) return x and ("%.1f"):format(x) or "-" end
print(("mime.header on %s, microseconds per call of 1 KiB (Python: email.header)"):format(
  jit and jit.version or _VERSION))
print("| value | encode | Python | Python / Lua | decode | Python | Python / Lua |")
print("|---|---|---|---|---|---|---|")
for _, row in ipairs(rows) do
  local theirs = python[row.name] or {}
  print(("| %s | %.1f | %s | %s | %.1f | %s | %s |"):format(row.name,
    row.encode, number(theirs.encode), ratio(theirs.encode, row.encode),
    row.decode, number(theirs.decode), ratio(theirs.decode, row.decode)))
end
