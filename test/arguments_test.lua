-- Argument checking and the reading of numeric states and parameters.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local model = support.model
local mime = require "mime.core"

local math_type = math.type
local NIL = {} -- stands for nil in argument lists below

local function args_of(row)
  local args = {}
  for i = 1, row.n do
    if row[i] ~= NIL then args[i] = row[i] end
  end
  return args
end

local function describe_call(name, row)
  return ("%s(%s)"):format(name, support.show_args(row.n, support.unpack(args_of(row), 1, row.n)))
end

describe("argument errors", function()
  -- Refused types, each in every position that takes a string or a number.
  local BAD = { {}, true, print }

  -- { name, arguments with v for the refused value, argument number blamed }
  local function rows_for(v)
    return {
      { "b64", v, "x", n = 2, blame = 1 },
      { "b64", "x", v, n = 2, blame = 2 },
      { "unb64", v, "x", n = 2, blame = 1 },
      { "unb64", "x", v, n = 2, blame = 2 },
      { "unqp", v, NIL, n = 2, blame = 1 },
      { "unqp", "x", v, n = 2, blame = 2 },
      { "qp", v, "x", n = 2, blame = 1 },
      { "qp", "x", v, n = 2, blame = 2 },
      { "qp", "x", "y", v, n = 3, blame = 3 },
      { "qp", NIL, "x", v, n = 3, blame = 3 },
      { "qp", NIL, NIL, v, n = 3, blame = 3 },
      { "qp", "x", v, v, n = 3, blame = 3 },
      { "wrp", v, "x", n = 2, blame = 1 },
      { "wrp", 76, v, n = 2, blame = 2 },
      { "wrp", 76, "x", v, n = 3, blame = 3 },
      { "wrp", 76, NIL, v, n = 3, blame = 3 },
      { "wrp", 76, v, v, n = 3, blame = 2 },
      { "qpwrp", v, "x", n = 2, blame = 1 },
      { "qpwrp", 76, v, n = 2, blame = 2 },
      { "qpwrp", 76, "x", v, n = 3, blame = 3 },
      { "qpwrp", 76, NIL, v, n = 3, blame = 3 },
      { "eol", v, "x", n = 2, blame = 1 },
      { "eol", 0, v, n = 2, blame = 2 },
      { "eol", 0, "x", v, n = 3, blame = 3 },
      { "eol", 0, NIL, v, n = 3, blame = 3 },
      { "eol", 0, v, v, n = 3, blame = 2 },
      { "dot", v, "x", n = 2, blame = 1 },
      { "dot", 2, v, n = 2, blame = 2 },
    }
  end

  local function check_blame(rows)
    local failures = {}
    for _, row in ipairs(rows) do
      local name = table.remove(row, 1)
      local ok, message = pcall(mime[name], support.unpack(args_of(row), 1, row.n))
      local want = "bad argument #" .. row.blame
      if ok or not tostring(message):find(want, 1, true) then
        failures[#failures + 1] = ("%s: want %q, got %s"):format(describe_call(name, row), want,
          ok and "no error" or tostring(message))
      end
    end
    assert(#failures == 0, "\n" .. table.concat(failures, "\n"))
  end

  it("blame a table, a boolean or a function where a string or number belongs", function()
    for _, v in ipairs(BAD) do check_blame(rows_for(v)) end
  end)

  it("blame a missing or non-numeric state or line length", function()
    check_blame({
      { "wrp", n = 0, blame = 1 },
      { "wrp", NIL, "x", n = 2, blame = 1 },
      { "wrp", "abc", "x", n = 2, blame = 1 },
      { "wrp", 76, "x", "abc", n = 3, blame = 3 },
      { "qpwrp", n = 0, blame = 1 },
      { "qpwrp", NIL, NIL, n = 2, blame = 1 },
      { "qpwrp", "12x", "x", n = 2, blame = 1 },
      { "qpwrp", 76, "x", "", n = 3, blame = 3 },
      { "eol", n = 0, blame = 1 },
      { "eol", NIL, "x", n = 2, blame = 1 },
      { "eol", "13x", "x", n = 2, blame = 1 },
      { "dot", n = 0, blame = 1 },
      { "dot", NIL, NIL, n = 2, blame = 1 },
      { "dot", "two", ".", n = 2, blame = 1 },
    })
  end)

  it("let a nil carry answer nil, nil whatever the chunk", function()
    for _, name in ipairs({ "b64", "unb64", "qp", "unqp" }) do
      for _, v in ipairs(BAD) do
        local results = support.pack(mime[name](nil, v))
        assert.are.equal(2, results.n, name)
        assert.is_nil(results[1], name)
        assert.is_nil(results[2], name)
      end
    end
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
  local VALUES = { 0 / 0, 1 / 0, -1 / 0, -0.0, 0, 1e300, -1e300, 2 ^ 31, 2 ^ 31 - 1,
    -2 ^ 31, -2 ^ 31 - 1, 2 ^ 32, 2 ^ 32 - 1, 2 ^ 53, -2 ^ 53, 2 ^ 62, -2 ^ 62, 9e18, -9e18,
    2 ^ 63, -2 ^ 63, -2.5, 2.5,
    0.5, -0.5, 3.7, 10.5, 13.2, 1.5, 2.99, "12", " 7 ", "0x10", "-3.9", "13", "1e3" }
  if math.maxinteger then
    VALUES[#VALUES + 1] = math.maxinteger
    VALUES[#VALUES + 1] = math.mininteger
    VALUES[#VALUES + 1] = math.maxinteger - 1
  end

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
      { 0 / 0, "", nil, "", 0 },
    })
  end)

  it("read NaN, infinities and out-of-range states as the filters define", function()
    support.check_rows(mime, "dot", 2, {
      { -1, "", "", 0 },
      { 2 ^ 32, "", "", 0 },
      { 2 ^ 32 - 1, "", "", 4294967295 },
      { 2.9, ".", "..", 0 },
      { "2", ".", "..", 0 },
      { 0 / 0, "", "", 0 },
    })
    support.check_rows(mime, "wrp", 3, {
      { 0 / 0, "", nil, "", 0 },
      { 1 / 0, "", nil, "", 2147483647 },
      { -1 / 0, "", nil, "", -2147483648 },
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
