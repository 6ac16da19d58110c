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
