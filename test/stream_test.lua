-- mime.stream: objects against the direct calls of the filters, misuse, the
-- end-of-stream rules of the ready-made streams, strict decoding and the pump.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local mime = require "mime.core"
local stream = require "mime.stream"

-- The chain called directly, one whole-input call per stage: each stage takes
-- the whole output of the stage before it, then gives its end-of-stream answer.
local START = { b64 = "", unb64 = "", qp = "", unqp = "", eol = 0, dot = 2 }
local function direct(stages, data)
  for _, entry in ipairs(stages) do
    local name, parameter = entry, nil
    if type(entry) == "table" then name, parameter = entry[1], entry[2] end
    local start = START[name]
    if start == nil then start = parameter or 76 end
    local output, state = mime[name](start, data, parameter)
    data = output .. (mime[name](state, nil, parameter) or "")
  end
  return data
end

-- Pushes the chunks through s, then finishes it; returns the whole output.
local function run(s, chunks)
  local out = {}
  for _, chunk in ipairs(chunks) do out[#out + 1] = assert(s:push(chunk)) end
  out[#out + 1] = assert(s:finish())
  return table.concat(out)
end

local PARAMETERS = { qp = { "\r\n", "\n", "XY" }, eol = { "\r\n", "\n", "", "\r" },
                     wrp = { 1, 3, 76 }, qpwrp = { 4, 5, 76 } }
local TEXT = "\r\r\n\n  \t==..0123ABCFabcz~+/\0\128\255"

-- The ready-made streams and the chains they stand for.
local READY = {
  { "base64_body()", stream.base64_body, { "b64", "wrp" } },
  { "base64_body(7)", function() return stream.base64_body(7) end, { "b64", { "wrp", 7 } } },
  { "qp_body(10)", function() return stream.qp_body(10) end, { "eol", "qp", { "qpwrp", 10 } } },
  { "decoder('BASE64')", function() return stream.decoder("BASE64") end, { "unb64" } },
  { "decoder('quoted-printable')", function() return stream.decoder("quoted-printable") end,
    { "eol", "unqp" } },
  { "decoder('8bit')", function() return stream.decoder("8bit") end, {} },
}

describe("mime.stream", function()
  it("gives what the direct calls give, for any chain at any chunking", function()
    local r = support.random(2024)
    for round = 1, 400 do
      local stages, title, make = {}, nil, nil
      if round % 4 == 0 then
        local ready = READY[r.int(1, #READY)]
        title, make, stages = ready[1], ready[2], ready[3]
      else
        for i = 1, r.int(1, 4) do
          local name = r.pick(support.NAMES)
          local choices = PARAMETERS[name]
          stages[i] = (choices and r.int(0, 1) == 1) and { name, r.pick(choices) } or name
        end
        make = function() return stream.chain(stages) end
      end
      local data = r.int(0, 1) == 1 and r.bytes(r.int(0, 400)) or r.bytes(r.int(0, 400), TEXT)
      local sizes = {}
      for i = 1, r.int(1, 4) do sizes[i] = r.int(0, 90) end
      local context = ("round %d: %s over %d bytes in chunks of %s"):format(round,
        title or "chain", #data, table.concat(sizes, ","))
      support.assert_same(direct(stages, data), run(make(), support.split(data, sizes)), context)
    end
  end)

  it("encodes and decodes whole strings as the streams do", function()
    local r = support.random(7)
    for _, size in ipairs({ 0, 1, 2, 3, 57, 100, 1000 }) do
      local data = r.bytes(size)
      for _, length in ipairs({ 4, 76, 100 }) do
        local base64 = stream.encode_all("Base64", data, { line_length = length })
        assert.are.equal(run(stream.base64_body(length), { data }), base64)
        assert.are.equal(data, stream.decode_all("base64", base64, { strict = true }))
        local qp = stream.encode_all("quoted-printable", data, { line_length = length })
        assert.are.equal(run(stream.qp_body(length), { data }), qp)
        assert.are.equal(direct({ "eol" }, data), stream.decode_all("quoted-printable", qp, { strict = true }))
      end
      for _, name in ipairs({ "7bit", "8BIT", "binary" }) do
        assert.are.equal(data, stream.encode_all(name, data))
        assert.are.equal(data, stream.decode_all(name, data))
      end
    end
  end)

  describe("ends each ready-made stream by its rules", function()
    local ENDS = {
      { stream.base64_body, "", "" },
      { stream.base64_body, "a", "YQ==\r\n" },
      { function() return stream.base64_body(4) end, "abcd", "YWJj\r\nZA==\r\n" },
      { function() return stream.base64_body(4) end, "abc", "YWJj\r\n" },
      { stream.qp_body, "", "" },
      { stream.qp_body, "a b", "a=20b=\r\n" },
      { stream.qp_body, "ends with spaces  \n", "ends with spaces =20\r\n" },
      { stream.qp_body, "bare\nand\rmixed\n\r", "bare\r\nand\r\nmixed\r\n" },
      { function() return stream.qp_body(8) end, "=====", "=3D=3D=\r\n=3D=3D=\r\n=3D=\r\n" },
      { function() return stream.decoder("quoted-printable") end, "a=\nb=3D\nc", "ab=\r\nc" },
      { function() return stream.decoder("Quoted-Printable") end, "=4", "" },
      { function() return stream.decoder("base64") end, "YWJj\nZA", "abc" },
      { function() return stream.decoder("binary") end, "\0\r\255", "\0\r\255" },
      { stream.smtp_data, "", ".\r\n" },
      { stream.smtp_data, "a", "a\r\n.\r\n" },
      { stream.smtp_data, "a\n", "a\r\n.\r\n" },
      { stream.smtp_data, "a\r", "a\r\n.\r\n" },
      { stream.smtp_data, "a\r\n\r\n", "a\r\n\r\n.\r\n" },
      { stream.smtp_data, ".\n.a\r\n..", "..\r\n..a\r\n...\r\n.\r\n" },
    }
    for index, row in ipairs(ENDS) do
      it("row " .. index .. ": " .. support.show(row[2]), function()
        for _, sizes in ipairs({ { #row[2] + 1 }, { 1 }, { 0, 2 } }) do
          assert.are.equal(row[3], run(row[1](), support.split(row[2], sizes)))
        end
      end)
    end
  end)

  describe("decodes strictly", function()
    -- Valid input and its decoding, or invalid input, the offset of the first
    -- fault and words of the message.
    local STRICT = {
      { "base64", "YWJj\r\nZA==\r\n", "abcd" },
      { "base64", "YWJjZA=\n=\n", "abcd" },
      { "base64", "YQ==YWI=\r\nYWJj", "aababc" },
      { "base64", "\r\n\n", "" },
      { "base64", "YWJj!ZA==", 5, "'!' is not a Base64 character" },
      { "base64", "YW\r\nJ j", 6, "byte 32" },
      { "base64", "YWJj\128", 5, "byte 128" },
      { "base64", "YWJjZA", 5, "the last group is incomplete" },
      { "base64", "YWJj\r\nZ\r\nA\r\n", 7, "incomplete" },
      { "base64", "YQ=", 1, "incomplete" },
      { "base64", "=AAA", 1, "first or second place" },
      { "base64", "YWJjA=AA", 6, "first or second place" },
      { "base64", "YW=j", 4, "'j' after '='" },
      { "base64", "YW=\r\nj=", 6, "'j' after '='" },
      { "base64", "YQ===", 5, "first or second place" },
      { "quoted-printable", "caf=C3=A9 =3D=\n3\n", "caf\195\169 =3\r\n" },
      { "quoted-printable", "=4a=4A\tx=\r\n\ry", "JJ\tx\r\ny" },
      { "quoted-printable", "", "" },
      { "quoted-printable", "a=ZZ", 2, "malformed escape '=Z'" },
      { "quoted-printable", "ab=4\nc", 3, "malformed escape '=4\\10'" },
      { "quoted-printable", "=41=4", 4, "escape left unfinished" },
      { "quoted-printable", "ok=", 3, "escape left unfinished" },
      { "quoted-printable", "x\128", 2, "byte 128 cannot stand" },
      { "quoted-printable", "\n\0", 2, "byte 0" },
      { "quoted-printable", "a\12", 2, "byte 12" },
      { "quoted-printable", "a\127=ZZ", 2, "byte 127" },
      { "quoted-printable", "ab=Z", 3, "malformed escape '=Z'" },
      { "quoted-printable", "x\1 \2", 2, "byte 1" },
    }
    for index, row in ipairs(STRICT) do
      local name, input, want, words = row[1], row[2], row[3], row[4]
      it("row " .. index .. ": " .. name .. " " .. support.show(input), function()
        for size = 1, #input + 1 do
          local d, out, piece, message = stream.decoder(name, { strict = true }), {}, "", nil
          for _, chunk in ipairs(support.split(input, { size })) do
            piece, message = d:push(chunk)
            if not piece then break end
            out[#out + 1] = piece
          end
          if piece then piece, message = d:finish() end
          if type(want) == "string" then
            assert.are.equal(want, table.concat(out) .. piece, "chunks of " .. size)
          else
            local context = "chunks of " .. size .. ": " .. tostring(message)
            assert.is_nil(piece, context)
            assert.truthy(message:find("at byte " .. want .. ": ", 1, true), context)
            assert.truthy(message:find(words, 1, true), context)
            -- Spent: every later call gives the same answer.
            assert.are.same({ nil, message }, { d:push("YWJj") })
            assert.are.same({ nil, message }, { d:finish() })
          end
        end
        assert.are.same({ stream.decode_all(name, input, { strict = true }) },
          type(want) == "string" and { want } or { nil, select(2, stream.decode_all(name, input, { strict = true })) })
      end)
    end
  end)

  it("raises an error naming the call or the stage on misuse", function()
    local finished = stream.chain({ "b64" })
    finished:finish()
    local s = stream.chain({ "b64" })
    local closed = io.tmpfile()
    closed:close()
    local function read() return nil end
    local function write() return true end
    local MISUSE = {
      { function() stream.chain("b64") end, "bad argument #1 to 'chain' (table expected, got string)" },
      { function() stream.chain({}) end, "bad argument #1 to 'chain' (empty list of stages)" },
      { function() stream.chain({ "b64", "frob" }) end, "stage 2: unknown filter 'frob'" },
      { function() stream.chain({ { 42 } }) end, "stage 1: unknown filter 42" },
      { function() stream.chain({ { "wrp", 0 } }) end, "stage 1 (wrp): line length must be a whole number from 1 to" },
      { function() stream.chain({ { "wrp", 2.5 } }) end, "stage 1 (wrp): line length" },
      { function() stream.chain({ { "wrp", "76" } }) end, "stage 1 (wrp): line length" },
      { function() stream.chain({ { "qpwrp", 3 } }) end, "stage 1 (qpwrp): line length must be a whole number from 4" },
      { function() stream.chain({ "b64", { "wrp", 2 ^ 31 } }) end, "stage 2 (wrp): line length" },
      { function() stream.chain({ { "eol", 10 } }) end, "stage 1 (eol): line end must be a string" },
      { function() stream.chain({ { "qp", "a\0" } }) end, "stage 1 (qp): line end must not hold a zero byte" },
      { function() stream.chain({ { "dot", 1 } }) end, "stage 1 (dot): takes no parameter" },
      { function() finished:push("x") end, "push after finish" },
      { function() finished:finish() end, "finish after finish" },
      { function() s:push() end, "bad argument #1 to 'push' (string expected, got nil)" },
      { function() s:push({}) end, "bad argument #1 to 'push' (string expected, got table)" },
      { function() s.push("x") end, "bad self to 'push'" },
      { function() s.finish(finished) end, "bad self to 'finish'" },
      { function() stream.base64_body(0) end, "bad argument #1 to 'base64_body' (line length" },
      { function() stream.qp_body(3) end, "bad argument #1 to 'qp_body' (line length" },
      { function() stream.decoder("x-uuencode") end, "bad argument #1 to 'decoder' (unknown transfer encoding 'x-uuencode')" },
      { function() stream.decoder() end, "bad argument #1 to 'decoder' (transfer encoding name expected, got nil)" },
      { function() stream.decoder("base64", "strict") end, "bad argument #2 to 'decoder' (table of options expected" },
      { function() stream.encode_all("base64", {}) end, "bad argument #2 to 'encode_all' (string expected, got table)" },
      { function() stream.encode_all("base64", "x", { line_length = 0 }) end, "bad argument #3 to 'encode_all' (line_length: " },
      { function() stream.encode_all("uuencode", "x") end, "bad argument #1 to 'encode_all' (unknown transfer encoding" },
      { function() stream.decode_all("base64", "x", 1) end, "bad argument #3 to 'decode_all' (table of options" },
      { function() stream.pump(42, write, stream.chain({ "b64" })) end, "bad argument #1 to 'pump' (file or function expected, got number)" },
      { function() stream.pump(closed, write, stream.chain({ "b64" })) end, "got closed file" },
      { function() stream.pump(read, "out", stream.chain({ "b64" })) end, "bad argument #2 to 'pump' (file or function expected, got string)" },
      { function() stream.pump(read, write, {}) end, "bad argument #3 to 'pump' (stream object expected" },
      { function() stream.pump(read, write, stream.chain({ "b64" }), 0) end, "bad argument #4 to 'pump' (chunk size" },
      { function() stream.pump(function() return {} end, write, stream.chain({ "b64" })) end, "reader returned a table" },
      { function() stream.pump(read, write, finished) end, "finish after finish" },
    }
    for index, row in ipairs(MISUSE) do
      local ok, message = pcall(row[1])
      assert.is_false(ok, "row " .. index .. " raised nothing")
      assert.truthy(tostring(message):find(row[2], 1, true),
        ("row %d: %s\n  wanted: %s"):format(index, tostring(message), row[2]))
    end
  end)

  describe("pump", function()
    local r = support.random(99)
    local data = r.bytes(100003)
    local encoded = stream.encode_all("base64", data)

    -- A reader that hands out the pieces of data, size bytes at a time.
    local function reader_of(text, size)
      local at = 1
      return function()
        if at > #text then return nil end
        at = at + size
        return text:sub(at - size, at - 1)
      end
    end

    it("moves a stream between file handles", function()
      local input, output = support.temp_file(data), support.temp_file()
      local from, to = assert(io.open(input, "rb")), assert(io.open(output, "wb"))
      assert.are.same({ #data, #encoded }, { stream.pump(from, to, stream.base64_body(), 4096) })
      from:close()
      to:close()
      assert.are.equal(encoded, support.read_file(output))
      support.remove_temp_files()
    end)

    it("reports a failed write, keeps what was written and never reports success", function()
      local writers = {
        { function() return nil, "disk full" end, "disk full" },
        { function() return false end, "write failed" },
        { function() end, "write failed" },
      }
      for _, row in ipairs(writers) do
        local written, calls = {}, 0
        local ok, message = stream.pump(reader_of(data, 1000), function(piece)
          calls = calls + 1
          if calls <= 3 then written[calls] = piece; return true end
          return row[1](piece)
        end, stream.base64_body(), 1000)
        assert.are.same({ nil, row[2] }, { ok, message })
        assert.are.equal(encoded:sub(1, #table.concat(written)), table.concat(written))
      end
      -- Output that fits in the file's buffer fails only when flushed.
      for _, size in ipairs({ 3, #data }) do
        local full = assert(io.open("/dev/full", "wb"))
        local ok, message = stream.pump(reader_of(data:sub(1, size), 1000), full, stream.base64_body())
        full:close()
        assert.is_nil(ok)
        assert.truthy(message:find("No space left", 1, true), message)
      end
    end)

    it("ends the stream at a file's first short read", function()
      -- More bytes land in the file after the short read: a pump that read
      -- again would take them (at a terminal: wait for a second end-of-file).
      local path = support.temp_file("0123456789abcde")
      local input, out = assert(io.open(path, "rb")), {}
      local read = stream.pump(input, function(piece)
        out[#out + 1] = piece
        if #piece == 5 then
          local more = assert(io.open(path, "ab"))
          more:write("late")
          more:close()
        end
        return true
      end, stream.decoder("binary"), 10)
      input:close()
      assert.are.same({ 15, "0123456789abcde" }, { read, table.concat(out) })
      support.remove_temp_files()
    end)

    it("reports a failed read and a strict decoder's fault", function()
      local reads = 0
      local function failing()
        reads = reads + 1
        if reads < 3 then return "YWJj" end
        return nil, "connection reset"
      end
      local out = {}
      local function collect(piece) out[#out + 1] = piece; return true end
      assert.are.same({ nil, "connection reset" }, { stream.pump(failing, collect, stream.decoder("base64")) })
      assert.are.same({ "abc", "abc" }, out)
      local ok, message = stream.pump(reader_of("YWJj\r\nYW*j", 4), collect,
        stream.decoder("base64", { strict = true }))
      assert.is_nil(ok)
      assert.truthy(message:find("at byte 9: '*'", 1, true), message)
    end)

    it("runs in memory that does not grow with the stream", function()
      local block, blocks, most = r.bytes(65536), 0, 0
      collectgarbage()
      local before = collectgarbage("count")
      local read, written = stream.pump(function()
        blocks = blocks + 1
        if blocks <= 512 then return block end
      end, function()
        -- What is still alive after a full collection, now and then.
        if blocks % 64 == 0 then
          collectgarbage()
          most = math.max(most, collectgarbage("count") - before)
        end
        return true
      end, stream.base64_body())
      assert.are.equal(512 * 65536, read)
      assert.is_true(written > read)
      -- 32 MiB went through; holding even 4 MiB of it would show.
      assert.is_true(most < 2048, ("%.0f KiB alive over the start"):format(most))
    end)
  end)
end)
