-- The inputs of the benchmark and the cases it measures: which filter on which
-- kind of input. Every kind is drawn from its own fixed pseudo-random sequence,
-- so it holds the same bytes on every interpreter and whichever kinds are chosen;
-- no kind repeats a shorter piece, and no filter turns one kind into another
-- (repeated or existing results would be found already interned by Lua 5.1 and
-- LuaJIT instead of being allocated and copied).
-- Derived kinds (Base64, quoted-printable) are made with the per-byte reference
-- module, so that they do not change when the kernels do.
local M = {}

M.size = 8 * 1024 * 1024

-- Park and Miller's generator: the products stay below 2^53, exact in doubles.
local function generator(seed)
  local state = seed
  return function(n)
    state = state * 16807 % 2147483647
    return math.floor(state * n / 2147483647)
  end
end

local unpack_values = unpack or table.unpack

local function random_bytes(size, seed)
  local random, parts, values = generator(seed), {}, {}
  for i = 1, math.ceil(size / 3072) do
    for j = 1, 3072, 3 do
      local v = random(16777216)
      values[j], values[j + 1], values[j + 2] = v % 256, math.floor(v / 256) % 256, math.floor(v / 65536)
    end
    parts[i] = string.char(unpack_values(values))
  end
  return table.concat(parts):sub(1, size)
end

-- Lines of words until `size` bytes; `width(random)` gives each line's length
-- before its line end. A few lines open with ".", some end in white space.
local function lines_of(words, size, seed, width, line_end)
  local random, lines, total = generator(seed), {}, 0
  while total < size do
    local line, n, target = {}, 0, width(random)
    if random(40) == 0 then line[1], n = ".", 1 end
    while n < target do
      local w = words[random(#words) + 1]
      if random(12) == 0 then w = w .. (random(3) == 0 and "," or ".") end
      line[#line + 1] = w
      n = n + #w + 1
    end
    local text = table.concat(line, " ")
    if random(10) == 0 then text = text .. (random(2) == 0 and " " or "\t") end
    lines[#lines + 1] = text .. line_end
    total = total + #text + #line_end
  end
  return table.concat(lines):sub(1, size)
end

-- E-mail prose: mostly ASCII words, some UTF-8 letters, "=" signs.
local prose_words = { "the", "message", "body", "of", "a", "mail", "is", "text", "and", "lines",
  "gr\195\188\195\159e", "caf\195\169", "na\195\175ve", "x=1", "a+b=c", "reply", "to", "all",
  "regards", "meeting", "tomorrow", "at", "ten", "o'clock", "please", "find", "attached",
  "\226\130\172100", "the", "report", "(draft)", "--", "see", "you", "then", "thanks!",
  "we", "will", "send", "it", "before", "Friday", "with", "numbers", "for", "March", "in",
  "order", "confirmed", "invoice", "#4711", "John", "Maria", "office", "schedule", "notes" }

-- Greek: two bytes a letter, so most bytes need an escape in quoted-printable.
local greek_words = {}
do
  local random = generator(271828)
  for i = 1, 400 do
    local letters = {}
    for j = 1, 2 + random(9) do
      local code = 0x3B1 + random(25)  -- alpha to omega (and final sigma)
      if j == 1 and code ~= 0x3C2 and random(8) == 0 then code = code - 32 end  -- a capital
      letters[j] = string.char(0xC0 + math.floor(code / 64), 0x80 + code % 64)
    end
    greek_words[i] = table.concat(letters)
  end
end

local short_words = { "ok", "yes", "no", "milk", "- eggs", "* item", "> quote", "12", "3.50",
  "done", "a=1", "see", "end", "Re:", "next", "TODO", "x", "--" }

local function text_lines(random) return 37 + random(52) end   -- ~66 bytes with CR LF
local function greek_lines(random) return 32 + random(52) end  -- the same: its words are longer
local function dense_lines(random) return 4 + random(22) end   -- ~18 bytes with CR LF

-- Each kind: a name, what it is, and how to make `size` bytes of it.
-- `reference` is the per-byte module.
M.kinds = {
  { name = "binary", about = "random bytes",
    make = function(size) return random_bytes(size, 1) end },
  { name = "base64", about = "Base64 in 76-column lines (CR LF)",
    make = function(size, reference)
      local encoded = reference.b64(random_bytes(math.ceil(size * 0.77), 2), nil)
      return (reference.wrp(76, encoded, 76)):sub(1, size)
    end },
  { name = "base64-flat", about = "Base64, one unwrapped line",
    make = function(size, reference)
      return (reference.b64(random_bytes(math.ceil(size * 0.76), 3), nil)):sub(1, size)
    end },
  { name = "text", about = "text, CR LF lines of ~66 bytes, some UTF-8",
    make = function(size) return lines_of(prose_words, size, 4, text_lines, "\r\n") end },
  { name = "text-lf", about = "the same text with bare LF",
    make = function(size) return lines_of(prose_words, size, 4, text_lines, "\n") end },
  { name = "dense", about = "dense CR LF lines of ~18 bytes",
    make = function(size) return lines_of(short_words, size, 5, dense_lines, "\r\n") end },
  { name = "greek", about = "Greek text (UTF-8), CR LF lines of ~66 bytes",
    make = function(size) return lines_of(greek_words, size, 6, greek_lines, "\r\n") end },
  { name = "qp-text", about = "quoted-printable text, unwrapped",
    make = function(size, reference)
      return (reference.qp(lines_of(prose_words, math.ceil(size * 0.97), 7, text_lines, "\r\n"), nil)):sub(1, size)
    end },
  { name = "qp-text-wrapped", about = "quoted-printable text, 76-column lines",
    make = function(size, reference)
      local encoded = reference.qp(lines_of(prose_words, math.ceil(size * 0.96), 8, text_lines, "\r\n"), nil)
      return (reference.qpwrp(76, encoded, 76)):sub(1, size)
    end },
  { name = "qp-greek", about = "quoted-printable Greek, unwrapped",
    make = function(size, reference)
      return (reference.qp(lines_of(greek_words, math.ceil(size * 0.4), 9, greek_lines, "\r\n"), nil)):sub(1, size)
    end },
  { name = "qp-greek-wrapped", about = "quoted-printable Greek, 76-column lines",
    make = function(size, reference)
      local encoded = reference.qp(lines_of(greek_words, math.ceil(size * 0.39), 10, greek_lines, "\r\n"), nil)
      return (reference.qpwrp(76, encoded, 76)):sub(1, size)
    end },
}
for _, kind in ipairs(M.kinds) do M.kinds[kind.name] = kind end

-- The cases, in the order of the tables: each filter on what users feed it.
M.cases = {
  { "b64", "binary" }, { "b64", "text" },
  { "unb64", "base64" }, { "unb64", "base64-flat" },
  { "qp", "text" }, { "qp", "dense" }, { "qp", "greek" }, { "qp", "binary" },
  { "unqp", "qp-text-wrapped" }, { "unqp", "qp-text" }, { "unqp", "qp-greek-wrapped" }, { "unqp", "qp-greek" },
  { "qpwrp", "qp-text" }, { "qpwrp", "qp-greek" },
  { "wrp", "base64-flat" }, { "wrp", "text" },
  { "eol", "text" }, { "eol", "text-lf" }, { "eol", "dense" },
  { "dot", "text" }, { "dot", "dense" },
}

M.functions = { "b64", "unb64", "qp", "unqp", "qpwrp", "wrp", "eol", "dot" }

-- Chunk sizes: bytes per call, or 0 for one call over the whole input.
M.chunkings = { 76, 2048, 65536, 0 }

function M.chunk_label(size)
  if size == 0 then return string.format("%d MiB", M.size / 1048576) end
  if size % 1024 == 0 then return string.format("%d KiB", size / 1024) end
  return string.format("%d B", size)
end

-- "76,2K,64K,8M" (or "whole" for one call) into chunk sizes.
function M.parse_chunks(text)
  if not text or text == "" then return M.chunkings end
  local sizes = {}
  for word in text:gmatch("[^,%s]+") do
    local number, unit = word:match("^(%d+)([KkMm]?)i?B?$")
    local size
    if word == "whole" or word == "call" or (unit and unit:lower() == "m") then
      size = 0
    elseif number then
      size = tonumber(number) * (unit ~= "" and 1024 or 1)
    end
    if not size or (size > 0 and size > M.size) then error("BENCH_CHUNKS: cannot read " .. word, 0) end
    sizes[#sizes + 1] = size
  end
  return sizes
end

-- A comma list from the environment as a set, or nil for everything.
function M.set_of(text)
  if not text or text == "" then return nil end
  local set = {}
  for word in text:gmatch("[^,%s]+") do set[word] = true end
  return set
end

-- The cases that BENCH_ONLY (functions) and BENCH_KINDS (kinds) leave.
function M.chosen_cases(only, kinds)
  local chosen = {}
  for _, case in ipairs(M.cases) do
    if (not only or only[case[1]]) and (not kinds or kinds[case[2]]) then chosen[#chosen + 1] = case end
  end
  return chosen
end

return M
