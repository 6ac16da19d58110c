-- Hostile arguments and very large inputs. Every function is called with every
-- argument position holding values of every Lua type and awkward numbers; each
-- call must either give the documented result or raise Lua's own argument error
-- for that position. Then chunks of 64 MiB go through every function, and the
-- wrappers meet lines of any length with room and line length at the ends of
-- the 32-bit range.

local mime = require "mime.core"

local unpack = table.unpack or unpack
local math_type = math.type -- nil before 5.3
local floor, ceil, huge = math.floor, math.ceil, math.huge
local rep, concat = string.rep, table.concat

local INT32_MAX, INT32_MIN = 2 ^ 31 - 1, -2 ^ 31
local INT64_MAX = math.maxinteger or 2 ^ 63 -- as the running Lua holds it
local INT64_MIN = math.mininteger or -2 ^ 63

local function pack(...) return { n = select("#", ...), ... } end

local function show(v)
  if type(v) == "string" then
    local s = v:sub(1, 60):gsub("[^%w%p ]", function(c) return ("\\%d"):format(c:byte()) end)
    return ('"%s"%s'):format(s, #v > 60 and ("..(%d bytes)"):format(#v) or "")
  end
  if type(v) == "number" then return ("%.17g"):format(v) end
  return tostring(v)
end

local function show_call(name, args)
  local shown = {}
  for i = 1, args.n do shown[i] = show(args[i]) end
  return ("%s(%s)"):format(name, concat(shown, ", "))
end

-- An integer result: the integer subtype where there is one, never -0.
local function is_integer(x)
  if type(x) ~= "number" then return false end
  if math_type then return math_type(x) == "integer" end
  return x == floor(x) and not (x == 0 and 1 / x < 0)
end

---------------------------------------------------------------------------
-- How the numbers are read (the module's documented rules)
---------------------------------------------------------------------------

local function truncate(x)
  if x >= 0 then return floor(x) end
  return ceil(x)
end

-- room, line_length: truncated, clamped to 32 bits, NaN as 0.
local function read_int32(x)
  if x ~= x then return 0 end
  if x >= INT32_MAX then return INT32_MAX end
  if x <= INT32_MIN then return INT32_MIN end
  return truncate(x)
end

-- last_break: truncated, clamped to 64 bits, NaN as 0.
local function read_int64(x)
  if x ~= x then return 0 end
  if math_type and math_type(x) == "integer" then return x end
  if x >= 2 ^ 63 then return INT64_MAX end
  if x <= -2 ^ 63 then return INT64_MIN end
  return truncate(x)
end

-- line_state: truncated; negative, NaN and 2^32 or more as 0.
local function read_uint32(x)
  if not (x >= 0) or x >= 2 ^ 32 then return 0 end
  return truncate(x)
end

local READ_STATE = { wrp = read_int32, qpwrp = read_int32, eol = read_int64, dot = read_uint32 }

---------------------------------------------------------------------------
-- The hostile values
---------------------------------------------------------------------------

local co = coroutine.create(function() end)
local nan = 0 / 0

-- kind: how the argument checks see the value.
--   "nil"     absent
--   "number"  a number: a string in its string form, a number as it is
--   "numeric" a string that converts to a number
--   "string"  a string that is no number
--   "other"   refused by every check
local HOSTILE = {
  { "nil", nil, "nil" },
  { "true", true, "other" },
  { "false", false, "other" },
  { "table", {}, "other" },
  { "function", print, "other" },
  { "userdata", io.stdout, "other" },
  { "coroutine", co, "other" },
  { "NaN", nan, "number" },
  { "+inf", huge, "number" },
  { "-inf", -huge, "number" },
  { "-0.0", -0.0, "number" },
  { "1e300", 1e300, "number" },
  { "-1e300", -1e300, "number" },
  { "2^31", 2 ^ 31, "number" },
  { "2^32", 2 ^ 32, "number" },
  { "2^32+13", 2 ^ 32 + 13, "number" },
  { "2^53", 2 ^ 53, "number" },
  { "-2^31-1", -2 ^ 31 - 1, "number" },
  { "-0.5", -0.5, "number" },
  { "-2.75", -2.75, "number" },
  { "2.9", 2.9, "number" },
  { "13", 13, "number" },
  { '"12"', "12", "numeric" },
  { '" 3 "', " 3 ", "numeric" },
  { '"-7.5"', "-7.5", "numeric" },
  { '"1e300"', "1e300", "numeric" },
  { '"0x10"', "0x10", "numeric" },
  { '"10"', "10", "numeric" },
  { '"abc"', "abc", "string" },
  { '""', "", "string" },
}

local CODECS = { b64 = true, unb64 = true, qp = true, unqp = true }

-- Ordinary arguments that the hostile value replaces one at a time.
local BASE = {
  b64 = { "ab\r\n", "c d=\r\n.\0\255" },
  unb64 = { "YW", "Jj\r\nYQ==Y" },
  qp = { "a \r", "\n\tb=\r\0 ", nil },
  unqp = { "a=", "41=\r\nb\r\nc=4" },
  wrp = { 5, "abc=defg\r\nhij", 4 },
  qpwrp = { 5, "ab=41cdef\nghij", 6 },
  eol = { 13, "\na\r\rb\n\rc", "<>" },
  dot = { 2, ".a\r\n.b\n.c\r" },
}

local NAMES = { "b64", "unb64", "qp", "unqp", "wrp", "qpwrp", "eol", "dot" }

-- What a chunk or line end argument becomes: nil, the string, or false (refused).
local function as_string(value, kind)
  if kind == "nil" then return nil end
  if kind == "other" then return false end
  return tostring(value)
end

-- What a number argument becomes: the number, or false (refused).
local function as_number(value, kind)
  if kind == "number" or kind == "numeric" then return tonumber(value) end
  return false
end

-- The expected outcome of calling `name` with `args`, position `pos` holding a
-- value of `kind`: { error = N } or { same = normalised arguments } (the call
-- must give what a call with ordinary arguments gives) or { results = {...} }.
local function expect(name, args, pos, kind)
  local value = args[pos]
  if CODECS[name] then
    -- carry (1), then qp's line end (3), then, unless carry is nil, chunk (2).
    local carry = args[1]
    if pos == 1 then
      carry = as_string(value, kind)
      if carry == false then return { error = 1 } end
    end
    if name == "qp" and pos == 3 then
      local line_end = as_string(value, kind)
      if line_end == false then return { error = 3 } end
    end
    if carry == nil then return { results = pack(nil, nil) } end
    local same = pack(unpack(args, 1, args.n))
    same[pos] = nil
    if pos == 1 then same[1] = carry end
    if pos == 2 then
      local chunk = as_string(value, kind)
      if chunk == false then return { error = 2 } end
      same[2] = chunk
    end
    if pos == 3 and name == "qp" then same[3] = as_string(value, kind) end
    if pos == 3 and name ~= "qp" then same.n = 2 end -- ignored
    if pos > 3 then same.n = 3 end -- surplus, dropped
    return { same = same }
  end
  -- state (1), chunk (2), parameter (3).
  local same = pack(unpack(args, 1, args.n))
  if pos == 1 then
    local n = as_number(value, kind)
    if n == false then return { error = 1 } end
    local state = READ_STATE[name](n)
    if args[2] == "" then return { results = pack("", state) } end
    same[1] = state
  elseif pos == 2 then
    local chunk = as_string(value, kind)
    if chunk == false then return { error = 2 } end
    same[2] = chunk
  elseif pos == 3 and (name == "wrp" or name == "qpwrp") then
    if kind ~= "nil" then
      local n = as_number(value, kind)
      if n == false then return { error = 3 } end
      local length = read_int32(n)
      if args[2] == nil then
        local brk = name == "wrp" and "\r\n" or "=\r\n"
        return { results = pack(read_int32(args[1]) < length and brk or nil, length) }
      end
      same[3] = length
    else
      same[3] = 76
    end
  elseif pos == 3 and name == "eol" then
    local line_end = as_string(value, kind)
    if line_end == false then return { error = 3 } end
    same[3] = line_end or "\r\n"
  else
    same.n = name == "dot" and 2 or 3 -- ignored or surplus
  end
  return { same = same }
end

local function check_call(name, args, pos, kind)
  local want = expect(name, args, pos, kind)
  local context = show_call(name, args)
  local got = pack(pcall(mime[name], unpack(args, 1, args.n)))
  if want.error then
    assert(not got[1], context .. " should raise an argument error")
    local pattern = "bad argument #" .. want.error
    assert(type(got[2]) == "string" and got[2]:find(pattern, 1, true),
      context .. ": wanted '" .. pattern .. "', got: " .. tostring(got[2]))
    return
  end
  assert(got[1], context .. " raised: " .. tostring(got[2]))
  assert(got.n == 3, context .. " should return exactly two values")
  local results = want.results
  if want.same then
    results = pack(mime[name](unpack(want.same, 1, want.same.n)))
  end
  for i = 1, 2 do
    local a, b = results[i], got[i + 1]
    assert(a == b or (a ~= a and b ~= b),
      ("%s: result %d is %s, expected %s"):format(context, i, show(b), show(a)))
  end
  if not CODECS[name] then
    assert(is_integer(got[3]), context .. ": state " .. show(got[3]) .. " is not an integer")
  end
end

describe("hostile arguments", function()
  for _, name in ipairs(NAMES) do
    it(name .. " takes or refuses every kind of value in every position", function()
      -- The other arguments ordinary, with the chunk as it is, empty, or nil; for
      -- the codecs also with carry nil (only qp's line end is looked at then).
      for _, variant in ipairs({ "chunk", "empty", "nil", "no carry" }) do
        for pos = 1, 4 do
          for _, h in ipairs(HOSTILE) do
            local args = pack(unpack(BASE[name], 1, 3))
            args.n = math.max(3, pos)
            if variant == "empty" then args[2] = "" end
            if variant == "nil" then args[2] = nil end
            if variant == "no carry" and CODECS[name] then args[1] = nil end
            args[pos] = h[2]
            check_call(name, args, pos, h[3])
          end
        end
      end
    end)
  end

  it("reads the numeric states exactly as documented, results integers", function()
    -- With an empty chunk the state comes back as it was read.
    local rows = {
      -- value, wrp/qpwrp (int32), eol (int64), dot (uint32 or 0)
      { 2.9, 2, 2, 2 },
      { -2.9, -2, -2, 0 },
      { -0.0, 0, 0, 0 },
      { nan, 0, 0, 0 },
      { huge, INT32_MAX, INT64_MAX, 0 },
      { -huge, INT32_MIN, INT64_MIN, 0 },
      { 2 ^ 31, INT32_MAX, 2 ^ 31, 2 ^ 31 },
      { -2 ^ 31 - 1, INT32_MIN, -2 ^ 31 - 1, 0 },
      { 2 ^ 32 - 1, INT32_MAX, 2 ^ 32 - 1, 2 ^ 32 - 1 },
      { 2 ^ 32, INT32_MAX, 2 ^ 32, 0 },
      { 2 ^ 32 + 13.5, INT32_MAX, 2 ^ 32 + 13, 0 },
      { 2 ^ 53, INT32_MAX, 2 ^ 53, 0 },
      { 1e300, INT32_MAX, INT64_MAX, 0 },
      { -1e300, INT32_MIN, INT64_MIN, 0 },
      { "13", 13, 13, 13 },
      { " -7.5 ", -7, -7, 0 },
    }
    for _, row in ipairs(rows) do
      for i, name in ipairs({ "wrp", "qpwrp", "eol", "dot" }) do
        local want = row[i == 4 and 4 or i == 3 and 3 or 2]
        local out, state = mime[name](row[1], "")
        assert(out == "", name)
        assert(state == want and is_integer(state),
          ("%s(%s, \"\"): state %s, expected %s"):format(name, show(row[1]), show(state), show(want)))
      end
    end
    -- A state of 2^32 + 13 is not 13 to eol, nor 2^32 + 10 a pending LF: both
    -- behave as 0.
    assert.are.same({ "<>x", 0 }, { mime.eol(2 ^ 32 + 13, "\nx", "<>") })
    assert.are.same({ "<>x", 0 }, { mime.eol(2 ^ 32 + 10, "\nx", "<>") })
    assert.are.same({ "x", 0 }, { mime.eol(13, "\nx", "<>") })
    -- dot: 2^32 + 2 reads as 0, not as the start of a line.
    assert.are.same({ ".", 0 }, { mime.dot(2 ^ 32 + 2, ".") })
    assert.are.same({ "..", 0 }, { mime.dot(2, ".") })
  end)
end)

---------------------------------------------------------------------------
-- Very large inputs
---------------------------------------------------------------------------

local MiB = 1024 * 1024

-- Output of a wrapper for n bytes of "a" (no break bytes): `threshold` is the
-- room at or below which a break goes before a byte (0 for wrp, 1 for qpwrp).
local function wrapped_a(n, room, length, threshold, brk)
  local out, pos = {}, 0
  while pos < n do
    if room > threshold then
      local take = math.min(room - threshold, n - pos)
      out[#out + 1] = rep("a", take)
      pos, room = pos + take, room - take
    elseif length <= threshold then
      -- Every byte left gets a break of its own.
      out[#out + 1] = rep(brk .. "a", n - pos)
      pos, room = n, length == INT32_MIN and INT32_MIN or length - 1
    else
      out[#out + 1] = brk
      room = length
    end
  end
  return concat(out), room
end

describe("very large inputs", function()
  local size = 64 * MiB

  it("the model of a line of 'a' agrees with short lines", function()
    for _, name in ipairs({ "wrp", "qpwrp" }) do
      local threshold = name == "wrp" and 0 or 1
      local brk = name == "wrp" and "\r\n" or "=\r\n"
      for n = 0, 40 do
        for _, room in ipairs({ INT32_MIN, -3, 0, 1, 2, 3, 7, INT32_MAX }) do
          for _, length in ipairs({ INT32_MIN, -2, 0, 1, 2, 3, 5, INT32_MAX }) do
            local out, left = mime[name](room, rep("a", n), length)
            local want, want_room = wrapped_a(n, room, length, threshold, brk)
            assert(out == want and left == want_room,
              ("%s(%d, %d x 'a', %d): %s, %s"):format(name, room, n, length, show(out), show(left)))
          end
        end
      end
    end
  end)

  it("codecs take a 64 MiB chunk", function()
    local groups = floor(size / 3)
    local rows = {
      -- function, repeated piece, its output, remainder
      { "b64", "\0\255a", "AP9h", groups },
      { "unb64", "AP9h", "\0\255a", size / 4 },
      { "qp", "a=\r\n \t\r\nb\0.", "a=3D\r\n =09\r\nb=00.", floor(size / 12) },
      { "unqp", "=41=\r\nb=4a\r\n=ZZ", "AbJ\r\n=ZZ", floor(size / 16) },
    }
    for _, row in ipairs(rows) do
      local name, piece, piece_out, count = row[1], row[2], row[3], row[4]
      assert.are.same({ piece_out, "" }, { mime[name](piece, "") }, name)
      local input = rep(piece, count)
      local out, remainder = mime[name]("", input)
      assert(remainder == "", name .. ": remainder " .. show(remainder))
      assert(#out == #piece_out * count, ("%s: %d bytes out"):format(name, #out))
      assert(out == rep(piece_out, count), name .. ": output differs")
      -- The same chunk as carry, at the end of the stream.
      local last = mime[name](input, nil)
      assert(last == out, name .. ": end of stream differs")
    end
    -- An unfinished group at the end of 64 MiB.
    local out, remainder = mime.b64("", rep("x", groups * 3 + 2))
    assert(#out == groups * 4 and remainder == "xx")
  end)

  it("line filters take a 64 MiB chunk", function()
    local n = size
    -- wrp and qpwrp: one long run of "a" at line length 76.
    for _, name in ipairs({ "wrp", "qpwrp" }) do
      local threshold = name == "wrp" and 0 or 1
      local brk = name == "wrp" and "\r\n" or "=\r\n"
      local out, room = mime[name](76, rep("a", n), 76)
      local want, want_room = wrapped_a(n, 76, 76, threshold, brk)
      assert(#out == #want and out == want, name .. ": output differs")
      assert(room == want_room and is_integer(room), name .. ": room " .. show(room))
    end
    -- eol: every convention of line break.
    local out, last = mime.eol(0, rep("a\r\nb\n\rc\rd\n", floor(n / 10)))
    assert(out == rep("a\r\nb\r\nc\r\nd\r\n", floor(n / 10)), "eol: output differs")
    assert(last == 10)
    -- dot: every line starts with a dot.
    out, last = mime.dot(2, rep(".a\r\n", n / 4))
    assert(out == rep("..a\r\n", n / 4) and last == 2, "dot: output differs")
  end)

  it("a long line end repeats without limit", function()
    local line_end = rep("<line end>", 100) -- 1000 bytes
    local out, last = mime.eol(0, rep("\n", 65536), line_end)
    assert(#out == 65536 * 1000 and out == rep(line_end, 65536) and last == 0)
    out, last = mime.eol(0, rep("\n", 65535), line_end)
    assert(#out == 65535 * 1000 and last == 10)
    local encoded, remainder = mime.qp("", rep("a\r\n", 65536), line_end)
    assert(encoded == rep("a" .. line_end, 65536) and remainder == "")
  end)

  it("wrappers handle lines of any length at the ends of the 32-bit range", function()
    local n = MiB + 3
    local rooms = { INT32_MAX, INT32_MAX - 1, INT32_MIN, INT32_MIN + 1, 0, -1, 76 }
    local lengths = { INT32_MIN, INT32_MIN + 1, -7, 0, 76, 1000, INT32_MAX }
    for _, name in ipairs({ "wrp", "qpwrp" }) do
      local threshold = name == "wrp" and 0 or 1
      local brk = name == "wrp" and "\r\n" or "=\r\n"
      local input = rep("a", n)
      for _, room in ipairs(rooms) do
        for _, length in ipairs(lengths) do
          local out, left = mime[name](room, input, length)
          local want, want_room = wrapped_a(n, room, length, threshold, brk)
          assert(out == want and left == want_room and is_integer(left),
            ("%s(%d, %d x 'a', %d): %d bytes, room %s; expected %d bytes, room %s"):format(
              name, room, n, length, #out, show(left), #want, show(want_room)))
        end
      end
      -- One line of 64 MiB fits a huge line length: no break, room goes down.
      local out, left = mime[name](INT32_MAX, rep("a", size), INT32_MAX)
      assert(#out == size and left == INT32_MAX - size, name)
      -- The end of the stream after a line that long.
      assert.are.same({ brk, INT32_MAX }, { mime[name](left, nil, INT32_MAX) })
    end
  end)
end)
