-- Very large inputs: chunks of 64 MiB go through every function, and the
-- wrappers meet lines of any length with room and line length at the ends of
-- the 32-bit range.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local mime = require "mime.core"

local show, is_integer = support.show, support.is_integer
local floor = math.floor
local rep, concat = string.rep, table.concat

local INT32_MAX, INT32_MIN = 2 ^ 31 - 1, -2 ^ 31

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

describe("wrapped lines of 'a'", function()
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
end)

-- Tens of seconds: left out of the quick tier.
describe("very large inputs #slow", function()
  local size = 64 * MiB

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
    -- Line ends first, then text: the room taken for the rest follows what the
    -- rest gives, not the rate of its start.
    local input = rep("\n", 8192) .. rep("x", 8 * MiB)
    collectgarbage()
    collectgarbage("stop")
    local before = collectgarbage("count")
    out = mime.eol(0, input, line_end)
    local allocated = (collectgarbage("count") - before) * 1024
    collectgarbage("restart")
    assert(out == rep(line_end, 8192) .. input:sub(8193), "eol: output differs")
    assert(allocated < 6 * #out, ("eol: %.0f bytes allocated for %d"):format(allocated, #out))
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

---------------------------------------------------------------------------
-- Re-entrancy
---------------------------------------------------------------------------

-- A call from a finalizer may land in the middle of a large call, while that
-- call holds the box kept between calls: each must get its own storage and its
-- right result. Where in the call the collector runs them is its own choice
-- (under a sanitizer, 5.2 ran none inside in one run), so the test asks only
-- for right results, in many rounds. Some finalizers raise: on 5.1 to 5.3 that error ends the outer
-- call (5.4 only warns), which must leave the module as usable as before.
describe("finalizers calling filters during a large call", function()
  it("give the results of the same calls made plainly", function()
    local data = rep("ab=.\r\n \t\0\255cdefghij", 600 * 1024 / 20)
    local outer_calls = {
      { "b64", function(s) return mime.b64("", s) end },
      { "qp", function(s) return mime.qp("", s) end },
      { "wrp", function(s) return mime.wrp(76, mime.b64("", s), 76) end },
      { "eol", function(s) return mime.eol(0, s .. s) end },
    }
    local inner_calls = {
      function(s) return mime.b64("", s) end,
      function(s) return mime.unqp("", s) end,
      function(s) return (mime.qpwrp(76, mime.qp("", s), 76)) end,
      function(s) return (mime.dot(2, s)) end,
    }
    local sizes = { 100, 9000, 70000, 300 * 1024 }
    local function inner(i) return inner_calls[i % #inner_calls + 1](data:sub(1, sizes[i % #sizes + 1])) end
    local plain_outer, plain_inner = {}, {}
    for k, entry in ipairs(outer_calls) do plain_outer[k] = entry[2](data) end
    for i = 0, 15 do plain_inner[i] = inner(i) end

    local results = {}
    local in_outer = false
    local function finalizer(i)
      results[#results + 1] = { i, inner(i) }
      -- Raised only inside the outer call: elsewhere it would end whatever
      -- allocation ran the collector. On 5.1 and LuaJIT the finalizer raises
      -- inside a filter under a pcall of its own: an error let out of a 5.1
      -- finalizer was seen to reach past the outer pcall.
      if in_outer and i % 5 == 0 then
        if newproxy then assert(not pcall(mime.wrp, 0, data, {})) else error("finalizer " .. i, 0) end
      end
    end
    local function garbage(i)
      local object
      if newproxy then -- 5.1 and LuaJIT: tables have no finalizers
        object = newproxy(true)
        getmetatable(object).__gc = function() finalizer(i) end
      else
        object = setmetatable({}, { __gc = function() finalizer(i) end })
      end
      return object
    end
    -- A collector that works at every allocation, so that finalizers run in
    -- the outer calls, at the growth past the kept box too.
    local pause, stepmul = collectgarbage("setpause", 10), collectgarbage("setstepmul", 1000)
    for round = 1, 24 do
      for i = 0, 63 do garbage(i % 16) end
      local entry = outer_calls[round % #outer_calls + 1]
      -- A box of nearly 1 MiB kept, which the outer call takes and then grows
      -- out of: a finalizer run at that growth must not find it to share.
      mime.b64("", rep("x", 760 * 1024))
      in_outer = true
      local ok, out = pcall(entry[2], data)
      in_outer = false
      if ok then
        assert(out == plain_outer[round % #outer_calls + 1], entry[1] .. ": the outer result differs")
      else
        assert(tostring(out):match("finalizer %d+"), tostring(out))
      end
    end
    collectgarbage("setpause", pause)
    collectgarbage("setstepmul", stepmul)
    collectgarbage()
    collectgarbage()
    for _, r in ipairs(results) do
      assert(r[2] == plain_inner[r[1]], "finalizer " .. r[1] .. ": its result differs")
    end
    assert(#results == 24 * 64, #results .. " finalizers ran")
    for k, entry in ipairs(outer_calls) do assert(entry[2](data) == plain_outer[k], entry[1] .. " afterwards") end
  end)
end)

---------------------------------------------------------------------------
-- Huge results, opt-in
---------------------------------------------------------------------------

-- Off by default: set MIME_BIG_MEMORY=1 to run it (13 GiB of memory at the peak on
-- Lua 5.4, 5.5 GiB on LuaJIT; minutes). A result past 2^32
-- bytes where the interpreter's strings can be that long, and on LuaJIT one of
-- 1.4 GiB, near its limit of 0x7fffff00 bytes for a string or a userdata.
local big_memory = os.getenv("MIME_BIG_MEMORY") == "1"
describe("huge results #slow", function()
  -- wrp at line length 1 puts a break before every byte but the first:
  -- n bytes of "a" give 3n - 2.
  local function check_wrapped(n)
    local out, room = mime.wrp(1, rep("a", n), 1)
    assert(#out == 3 * n - 2, ("%d bytes out of %d"):format(#out, n))
    assert(room == 0)
    for _, k in ipairs({ 1, 2, 3, 4, 3 * floor(n / 2) - 1, 3 * (n - 1) - 1 }) do
      assert(out:sub(k, k + 2) == ("a\r\n"):sub((k - 1) % 3 + 1) .. ("a\r\n"):sub(1, (k - 1) % 3),
        "byte " .. k)
    end
  end
  local run = big_memory and it or pending
  if jit then
    run("LuaJIT: a result of 1.4 GiB", function() check_wrapped(470 * MiB) end)
  else
    run("a result past 2^32 bytes", function() check_wrapped(floor(2 ^ 32 / 3) + 1000) end)
  end
end)
