-- Argument checking and the reading of numeric states and parameters. Every
-- function is called with every argument position holding values of every Lua
-- type and awkward numbers; each call must either give the documented result
-- or raise Lua's own argument error for that position. The numbers are also
-- read as the model reads them, and numeric results are always integers.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local model = support.model
local mime = require "mime.core"

local unpack, pack, show, is_integer = support.unpack, support.pack, support.show, support.is_integer
local math_type = math.type -- nil before 5.3
local floor, ceil, huge = math.floor, math.ceil, math.huge

local INT32_MAX, INT32_MIN = 2 ^ 31 - 1, -2 ^ 31
local INT64_MAX = math.maxinteger or 2 ^ 63 -- as the running Lua holds it
local INT64_MIN = math.mininteger or -2 ^ 63

local NIL = {} -- stands for nil in argument lists below

local function show_call(name, args)
  return ("%s(%s)"):format(name, support.show_args(args.n, unpack(args, 1, args.n)))
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
-- Every kind of value in every position
---------------------------------------------------------------------------

local nan = 0 / 0

-- Numbers, and strings that convert to numbers, for every numeric argument.
local NUMBERS = { nan, huge, -huge, -0.0, 0, 1e300, -1e300, 2 ^ 31, 2 ^ 31 - 1, -2 ^ 31,
  -2 ^ 31 - 1, 2 ^ 32, 2 ^ 32 - 1, 2 ^ 32 + 13, 2 ^ 53, -2 ^ 53, 2 ^ 62, -2 ^ 62, 9e18, -9e18,
  2 ^ 63, -2 ^ 63, -2.5, 2.5, -2.75, 2.9, 0.5, -0.5, 3.7, 10.5, 13.2, 1.5, 2.99, 13,
  "12", " 7 ", " 3 ", "0x10", "-3.9", "-7.5", "13", "10", "1e3", "1e300" }
if math.maxinteger then
  NUMBERS[#NUMBERS + 1] = math.maxinteger
  NUMBERS[#NUMBERS + 1] = math.mininteger
  NUMBERS[#NUMBERS + 1] = math.maxinteger - 1
end

-- Every kind of Lua value: nil (as NIL), the numbers above and values no
-- numeric or string argument takes.
local HOSTILE = { NIL, true, false, {}, print, io.stdout, coroutine.create(function() end),
  "abc", "" }
for _, v in ipairs(NUMBERS) do HOSTILE[#HOSTILE + 1] = v end

-- How the argument checks see a value:
--   "nil"     absent
--   "number"  a number: a string in its string form, a number as it is
--   "numeric" a string that converts to a number
--   "string"  a string that is no number
--   "other"   refused by every check
local function kind_of(v)
  if v == nil then return "nil" end
  if type(v) == "number" then return "number" end
  if type(v) == "string" then return tonumber(v) and "numeric" or "string" end
  return "other"
end

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
            if h == NIL then h = nil end
            local args = pack(unpack(BASE[name], 1, 3))
            args.n = math.max(3, pos)
            if variant == "empty" then args[2] = "" end
            if variant == "nil" then args[2] = nil end
            if variant == "no carry" and CODECS[name] then args[1] = nil end
            args[pos] = h
            check_call(name, args, pos, kind_of(h))
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
        local results = pack(model[name](row[1], ""))
        out, state = results[1], results[2]
        assert(results.n == 2 and out == "" and state == want and is_integer(state),
          ("model %s(%s, \"\"): state %s, expected %s"):format(name, show(row[1]), show(state), show(want)))
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

local function args_of(row)
  local args = {}
  for i = 1, row.n do
    if row[i] ~= NIL then args[i] = row[i] end
  end
  return args
end

describe("argument errors", function()
  local function check_blame(rows)
    local failures = {}
    for _, row in ipairs(rows) do
      local name = table.remove(row, 1)
      local args = args_of(row)
      args.n = row.n
      local ok, message = pcall(mime[name], unpack(args, 1, row.n))
      local want = "bad argument #" .. row.blame
      if ok or not tostring(message):find(want, 1, true) then
        failures[#failures + 1] = ("%s: want %q, got %s"):format(show_call(name, args), want,
          ok and "no error" or tostring(message))
      end
    end
    assert(#failures == 0, "\n" .. table.concat(failures, "\n"))
  end

  -- Single values in each position are swept above; here a refused value
  -- comes with another, or the arguments are missing or malformed strings.
  it("blame the first refused argument, and a missing or non-numeric state or line length", function()
    local rows = {
      { "wrp", n = 0, blame = 1 },
      { "qpwrp", n = 0, blame = 1 },
      { "qpwrp", NIL, NIL, n = 2, blame = 1 },
      { "qpwrp", "12x", "x", n = 2, blame = 1 },
      { "eol", n = 0, blame = 1 },
      { "eol", "13x", "x", n = 2, blame = 1 },
      { "dot", n = 0, blame = 1 },
      { "dot", NIL, NIL, n = 2, blame = 1 },
      { "dot", "two", ".", n = 2, blame = 1 },
    }
    for _, v in ipairs({ {}, true, print }) do
      rows[#rows + 1] = { "qp", NIL, NIL, v, n = 3, blame = 3 }
      rows[#rows + 1] = { "qp", "x", v, v, n = 3, blame = 3 }
      rows[#rows + 1] = { "wrp", 76, v, v, n = 3, blame = 2 }
      rows[#rows + 1] = { "eol", 0, v, v, n = 3, blame = 2 }
    end
    check_blame(rows)
  end)

  it("always return exactly two values, surplus arguments dropped", function()
    local calls = {
      { "b64", "abc", "d", "extra" }, { "unb64", "YWJj", nil, 1, 2 },
      { "qp", "a b", "", "\n", "extra" }, { "unqp", "=41" },
      { "wrp", 3, "abcd", 2, "extra" }, { "qpwrp", 3 }, { "eol", 0, "\r", "\n", {} },
      { "dot", 2, ".", "extra" }, { "b64" }, { "qp" },
    }
    for _, row in ipairs(calls) do
      local name = row[1]
      local results = support.pack(mime[name](support.unpack(row, 2, 6)))
      assert.are.equal(2, results.n, name)
    end
  end)
end)

describe("numeric arguments", function()
  local VALUES = NUMBERS

  -- Every call agrees with the model, and numeric results are integers.
  local function compare(name, nargs, ...)
    local got = support.pack(pcall(mime[name], ...))
    local want = support.pack(pcall(model[name], ...))
    local call = ("%s(%s)"):format(name, support.show_args(nargs, ...))
    assert(got[1], call .. " raised " .. tostring(got[2]))
    assert(want[1], call .. " raised in the model: " .. tostring(want[2]))
    assert(support.same(got[2], want[2]) and support.same(got[3], want[3]),
      ("%s\n  module: %s, %s\n  model:  %s, %s"):format(call, support.show(got[2]),
        support.show(got[3]), support.show(want[2]), support.show(want[3])))
    assert.are.equal("number", type(got[3]), call)
    if math_type then assert.are.equal("integer", math_type(got[3]), call) end
    assert(got[3] == got[3], call .. " gave NaN")
  end

  it("read room and line_length as clamped 32-bit integers", function()
    for _, name in ipairs({ "wrp", "qpwrp" }) do
      for _, room in ipairs(VALUES) do
        for _, chunk in ipairs({ "", "ab", "a=b\ncd=", "x" }) do
          compare(name, 2, room, chunk)
        end
        compare(name, 2, room, nil)
        for _, line_length in ipairs(VALUES) do
          compare(name, 3, room, nil, line_length)
          compare(name, 3, room, "", line_length)
          compare(name, 3, room, "a=b\ncde", line_length)
        end
      end
    end
  end)

  it("keep room from stepping below the smallest 32-bit value", function()
    for _, name in ipairs({ "wrp", "qpwrp" }) do
      for _, line_length in ipairs({ -2 ^ 31, -2 ^ 31 - 1, -1 / 0, -2 ^ 31 + 1 }) do
        for _, room in ipairs({ -2 ^ 31, -2 ^ 31 + 1, 0, 5 }) do
          compare(name, 3, room, "abc", line_length)
        end
      end
      local _, room = mime[name](-2 ^ 31, "a", -2 ^ 31)
      assert.are.equal(-2 ^ 31, room, name)
    end
  end)

  it("read line_state as an unsigned 32-bit integer", function()
    for _, state in ipairs(VALUES) do
      for _, chunk in ipairs({ "", ".", "\n.", "\r", "x", "\r\n" }) do
        compare("dot", 2, state, chunk)
      end
      compare("dot", 2, state, nil)
    end
  end)

  it("read last_break as a 64-bit integer, fractions truncated", function()
    for _, state in ipairs(VALUES) do
      for _, chunk in ipairs({ "", "\n", "\r", "x", "\n\r" }) do
        compare("eol", 2, state, chunk)
      end
      compare("eol", 2, state, nil)
    end
    support.check_rows(mime, "eol", 3, {
      { 3.7, "", nil, "", 3 },
      { 13.9, "\nx", nil, "x", 0 },
      { "10", "\nx", nil, "\r\nx", 0 },
    })
  end)

  it("read NaN, infinities and out-of-range states as the filters define", function()
    -- With an empty chunk, the table of states in "hostile arguments" above.
    support.check_rows(mime, "dot", 2, {
      { -1, "", "", 0 },
      { 2.9, ".", "..", 0 },
      { "2", ".", "..", 0 },
    })
    support.check_rows(mime, "wrp", 3, {
      { "12", "ab", "3", "ab", 10 },
      { 5, nil, 1e300, "\r\n", 2147483647 },
      { 5, nil, 0 / 0, nil, 0 },
    })
  end)

  it("take numbers as carry or chunk in their string form", function()
    for _, v in ipairs({ 0, 12, -7, 1.5, 2 ^ 53, 1e300, 1 / 0, -0.0 }) do
      for _, name in ipairs({ "b64", "unb64", "qp", "unqp" }) do
        local got1, got2 = mime[name](v, nil)
        local want1, want2 = model[name](tostring(v), nil)
        assert(got1 == want1 and got2 == want2, name .. "(" .. tostring(v) .. ", nil)")
        got1, got2 = mime[name]("", v)
        want1, want2 = model[name]("", tostring(v))
        assert(got1 == want1 and got2 == want2, name .. "(\"\", " .. tostring(v) .. ")")
      end
      for _, name in ipairs({ "wrp", "qpwrp", "eol", "dot" }) do
        local got1 = mime[name](0, v)
        local want1 = model[name](0, tostring(v))
        assert.are.equal(want1, got1, name .. "(0, " .. tostring(v) .. ")")
      end
    end
  end)
end)
