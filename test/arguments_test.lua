-- Argument checking and the reading of numeric states and parameters. Every
-- function is called with every argument position holding values of every Lua
-- type and awkward numbers; each call must agree with the model (test/model.lua,
-- which reads the arguments as documented): the same two results, or Lua's own
-- argument error for the same position. Rows of literal values pin the model's
-- reading of numbers, and numeric results are always integers.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local model = support.model
local mime = require "mime.core"

local unpack, pack, show, is_integer = support.unpack, support.pack, support.show, support.is_integer
local math_type = math.type -- nil before 5.3
local huge = math.huge

local INT32_MAX, INT32_MIN = 2 ^ 31 - 1, -2 ^ 31
local INT64_MAX = math.maxinteger or 2 ^ 63 -- as the running Lua holds it
local INT64_MIN = math.mininteger or -2 ^ 63

local NIL = {} -- stands for nil in argument lists below

local function show_call(name, args)
  return ("%s(%s)"):format(name, support.show_args(args.n, unpack(args, 1, args.n)))
end

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

-- The module and the model, called alike, agree: both raise an argument error
-- for the same position, or both return the same two results.
local function check_call(name, args)
  local context = show_call(name, args)
  local got = pack(pcall(mime[name], unpack(args, 1, args.n)))
  local want = pack(pcall(model[name], unpack(args, 1, args.n)))
  if not want[1] then
    local blame = tostring(want[2]):match("bad argument #%d+ ")
    assert(blame, context .. ": the model raised " .. tostring(want[2]))
    assert(not got[1], context .. " should raise an argument error")
    assert(type(got[2]) == "string" and got[2]:find(blame, 1, true),
      context .. ": wanted '" .. blame .. "', got: " .. tostring(got[2]))
    return
  end
  assert(got[1], context .. " raised: " .. tostring(got[2]))
  assert(got.n == 3, context .. " should return exactly two values")
  for i = 2, 3 do
    assert(support.same(got[i], want[i]),
      ("%s: result %d is %s, expected %s"):format(context, i - 1, show(got[i]), show(want[i])))
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
            check_call(name, args)
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
