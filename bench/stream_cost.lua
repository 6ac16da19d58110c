-- The cost of mime.stream: each ready-made stream against the direct calls of
-- the same chain of mime.core filters, threaded by hand, on the same bytes,
-- at 64 KiB and at 76-byte chunks. Prints the time of each and their ratio.
--
-- Run from the top of the tree against a release build of the module
-- (cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build),
-- on Lua 5.1 and on LuaJIT, whose modules the build puts in build/ and
-- build/lua-luajit/:
--
--   LUA_CPATH="./build/?.so;;" LUA_PATH="./lua/?.lua;;" lua5.1 bench/stream_cost.lua
--   LUA_CPATH="./build/lua-luajit/?.so;;" LUA_PATH="./lua/?.lua;;" luajit bench/stream_cost.lua
--
-- STREAM_COST_MIB sets the input size (default 8), STREAM_COST_ROUNDS the
-- number of rounds (default 5; the best round counts).

local mime = require "mime.core"
local stream = require "mime.stream"

local SIZE = (tonumber(os.getenv("STREAM_COST_MIB")) or 8) * 1024 * 1024
local ROUNDS = tonumber(os.getenv("STREAM_COST_ROUNDS")) or 5
local clock = os.clock

-- A fixed pseudo-random sequence, the same on every interpreter.
local seed = 12345
local function random(n)
  seed = (seed * 16807) % 2147483647
  return seed % n
end

local function binary(size)
  local parts = {}
  for i = 1, size / 1024 do
    local bytes = {}
    for j = 1, 1024 do bytes[j] = string.char(random(256)) end
    parts[i] = table.concat(bytes)
  end
  return table.concat(parts)
end

-- Mail text: words, 8-bit letters, "=" signs, dots at line starts, LF ends.
local WORDS = { "the", "message", "body", "caf\195\169", "x=1", ".dot", "regards", "text",
  "and", "lines", "na\195\175ve", "tomorrow", "at", "ten" }
local function text(size)
  local parts, total = {}, 0
  while total < size do
    local word = WORDS[random(#WORDS) + 1] .. (random(10) == 0 and "\n" or " ")
    parts[#parts + 1] = word
    total = total + #word
  end
  return table.concat(parts):sub(1, size)
end

local function chunks_of(data, size)
  local list = {}
  for at = 1, #data, size do list[#list + 1] = data:sub(at, at + size - 1) end
  return list
end

local raw, prose = binary(SIZE), text(SIZE)
local encoded = stream.encode_all("base64", raw)
local qp_text = stream.encode_all("quoted-printable", prose)

-- Each case: the input, the stream to build, and the same chain by hand.
-- Both return the number of bytes made, so that neither can be skipped.
local cases = {
  { "base64_body", raw, function() return stream.base64_body() end,
    function(list)
      local b64, wrp = mime.b64, mime.wrp
      local carry, room, total, text_out, out = "", 76, 0, nil, nil
      for i = 1, #list do
        text_out, carry = b64(carry, list[i])
        out, room = wrp(room, text_out, 76)
        total = total + #out
      end
      text_out = b64(carry, nil)
      if text_out then out, room = wrp(room, text_out, 76); total = total + #out end
      out = wrp(room, nil, 76)
      return total + (out and #out or 0)
    end },
  { "qp_body", prose, function() return stream.qp_body() end,
    function(list)
      local eol, qp, qpwrp = mime.eol, mime.qp, mime.qpwrp
      local last_break, carry, room, total = 0, "", 76, 0
      local crlf, encoded_out, out
      for i = 1, #list do
        crlf, last_break = eol(last_break, list[i], "\r\n")
        encoded_out, carry = qp(carry, crlf, "\r\n")
        out, room = qpwrp(room, encoded_out, 76)
        total = total + #out
      end
      encoded_out = qp(carry, nil, "\r\n")
      if encoded_out then out, room = qpwrp(room, encoded_out, 76); total = total + #out end
      out = qpwrp(room, nil, 76)
      return total + (out and #out or 0)
    end },
  { "decoder base64", encoded, function() return stream.decoder("base64") end,
    function(list)
      local unb64 = mime.unb64
      local carry, total, out = "", 0, nil
      for i = 1, #list do
        out, carry = unb64(carry, list[i])
        total = total + #out
      end
      out = unb64(carry, nil)
      return total + (out and #out or 0)
    end },
  { "decoder quoted-printable", qp_text, function() return stream.decoder("quoted-printable") end,
    function(list)
      local eol, unqp = mime.eol, mime.unqp
      local last_break, carry, total, crlf, out = 0, "", 0, nil, nil
      for i = 1, #list do
        crlf, last_break = eol(last_break, list[i], "\r\n")
        out, carry = unqp(carry, crlf)
        total = total + #out
      end
      out = unqp(carry, nil)
      return total + (out and #out or 0)
    end },
  { "smtp_data", prose, function() return stream.smtp_data() end,
    function(list)
      local eol, dot = mime.eol, mime.dot
      local last_break, line_state, total, crlf, out = 0, 2, 0, nil, nil
      for i = 1, #list do
        crlf, last_break = eol(last_break, list[i], "\r\n")
        out, line_state = dot(line_state, crlf)
        total = total + #out
      end
      return total + (line_state == 2 and 3 or 5)
    end },
}

local function with_object(make, list)
  local s, total = make(), 0
  for i = 1, #list do total = total + #s:push(list[i]) end
  return total + #s:finish()
end

local function best(run, list)
  local fastest, result = math.huge, nil
  for _ = 1, ROUNDS do
    collectgarbage()
    local start = clock()
    result = run(list)
    fastest = math.min(fastest, clock() - start)
  end
  return fastest, result
end

print(("%s, %d MiB, best of %d rounds"):format(jit and jit.version or _VERSION, SIZE / 2 ^ 20, ROUNDS))
print(("%-26s %8s %10s %10s %7s"):format("stream", "chunk", "direct s", "object s", "ratio"))
for _, case in ipairs(cases) do
  local name, data, make, direct = case[1], case[2], case[3], case[4]
  for _, size in ipairs({ 65536, 76 }) do
    local list = chunks_of(data, size)
    -- Alternate the two so that both see the same state of the machine.
    local direct_time, object_time = math.huge, math.huge
    local direct_total, object_total
    for _ = 1, 2 do
      local t
      t, direct_total = best(direct, list)
      direct_time = math.min(direct_time, t)
      t, object_total = best(function(l) return with_object(make, l) end, list)
      object_time = math.min(object_time, t)
    end
    assert(direct_total == object_total, name .. ": the two give different lengths")
    print(("%-26s %8d %10.4f %10.4f %6.2fx"):format(name, size, direct_time, object_time,
      object_time / direct_time))
  end
end
