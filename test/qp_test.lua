-- Quoted-printable: qp, unqp and qpwrp, alone and as a stream.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local model = support.model
local mime = require "mime.core"

describe("qp", function()
  support.row_tests(it, mime, "qp", 3, {
    { "copies literal bytes and escapes the rest", {
      { "abc", nil, nil, "abc", nil },
      { "abc", "def", nil, "abcdef", "" },
      { "~}|{", nil, nil, "~}|{", nil },
      { "!<>", nil, nil, "!<>", nil },
      { "=", nil, nil, "=3D", nil },
      { "\0", nil, nil, "=00", nil },
      { "\127", nil, nil, "=7F", nil },
      { "\233", nil, nil, "=E9", nil },
      { "\255\128", nil, nil, "=FF=80", nil },
      { "a\nb", nil, nil, "a=0Ab", nil },
      { "a\rb", nil, nil, "a=0Db", nil },
      { "\1\8\11\12\14\31", nil, nil, "=01=08=0B=0C=0E=1F", nil },
    } },
    { "writes CR LF as the line end and escapes white space before it", {
      { "a\r\nb", nil, nil, "a\r\nb", nil },
      { "a \r\nb", nil, nil, "a=20\r\nb", nil },
      { "a\t\r\n", nil, nil, "a=09\r\n", nil },
      { "a  \r\n", nil, nil, "a =20\r\n", nil },
      { "a\r\r\n", nil, nil, "a=0D\r\n", nil },
      { "a \rb", nil, nil, "a =0Db", nil },
      { "a bc", nil, nil, "a bc", nil },
      { "\r\n\r\n", nil, nil, "\r\n\r\n", nil },
      { "a\n\rb", nil, nil, "a=0A=0Db", nil },
    } },
    { "flushes waiting bytes and a soft break at the end of the stream", {
      { "a b", nil, nil, "a=20b=\r\n", nil },
      { "a ", nil, nil, "a=20=\r\n", nil },
      { "a\t", nil, nil, "a=09=\r\n", nil },
      { "\r", nil, nil, "=0D=\r\n", nil },
      { " \r", nil, nil, "=20=0D=\r\n", nil },
      { "a\t\tb", nil, nil, "a\t=09b=\r\n", nil },
      { "", nil, nil, nil, nil },
      { "a ", nil, "\n", "a=20=\r\n", nil },
    } },
    { "keeps undecided bytes as remainder", {
      { "a ", "", nil, "a", " " },
      { " ", "a", nil, "", " a" },
      { "a b", "", nil, "a", " b" },
      { "a\r", "", nil, "a", "\r" },
      { "\r", "\nx", nil, "\r\nx", "" },
      { "  ", "\r", nil, " ", " \r" },
      { "  ", "\r\n", nil, " =20\r\n", "" },
      { "", "", nil, "", "" },
    } },
    { "writes the caller's line end up to its first zero byte", {
      { "a\r\nb", nil, "\n", "a\nb", nil },
      { "a\r\nb", nil, "XY", "aXYb", nil },
      { "a\r\nb", nil, "", "ab", nil },
      { "a\r\nb", nil, "A\0B", "aAb", nil },
      { "a \r\nb", nil, "\0", "a=20b", nil },
      { "a\r\nb", nil, 7, "a7b", nil },
    } },
    { "answers nil, nil to a nil carry without reading the chunk", {
      { nil, nil, nil, nil, nil },
      { nil, "abc", nil, nil, nil },
      { nil, "a\r\n", "XY", nil, nil },
    } },
  })

  it("looks ahead across chunk boundaries", function()
    support.check_streams(mime, "qp", {
      { { "a ", "\r\nb" }, "a=20\r\nb" },
      { { "a ", "\r", "\nb" }, "a=20\r\nb" },
      { { "a", " ", "\r", "\n", "b" }, "a=20\r\nb" },
      { { "x", "", " ", "", "\r", "", "\n" }, "x=20\r\n" },
      { { "a ", "\rb" }, "a =0Db" },
      { { "a ", "bc" }, "a bc" },
      { { "a ", "b" }, "a=20b=\r\n" },
      { { "a ", "\r" }, "a=20=0D=\r\n" },
      { { "a\r", "\n" }, "a\r\n" },
      { { "a\r", "b" }, "a=0Db" },
      { { "a\r", "" }, "a=0D=\r\n" },
      { { "a\t", "\t", "\r\n" }, "a\t=09\r\n" },
      { { "\r", "\r", "\n" }, "=0D\r\n" },
      { { " ", " ", " ", "\r\n" }, "  =20\r\n" },
      { { " \r", "\n" }, "=20\r\n" },
      { { "a \r", "\nb" }, "a=20XYb", param = "XY" },
      { { "a\r", "\nb" }, "a\nb", param = "\n" },
      { { "a \r", "\n" }, "a=20", param = "" },
      { { " ", "\r\n" }, "=20Z", param = "Z\0Q" },
    })
  end)

  it("encodes every byte value at every start offset like the model", function()
    local all = {}
    for b = 0, 255 do all[#all + 1] = string.char(b) end
    all = table.concat(all)
    for offset = 0, 3 do
      local data = (" "):rep(offset) .. all .. "\r\n" .. all
      local whole = mime.qp(data, nil)
      assert.are.equal(model.qp(data, nil), whole, "offset " .. offset)
      assert.are.equal(data, mime.unqp(whole, nil), "offset " .. offset)
    end
  end)
end)

describe("unqp", function()
  support.row_tests(it, mime, "unqp", 2, {
    { "decodes escapes and copies malformed ones", {
      { "=41", nil, "A", nil },
      { "=4a", nil, "J", nil },
      { "=fF", nil, "\255", nil },
      { "=00", nil, "\0", nil },
      { "=00x", nil, "\0x", nil },
      { "=ZZ", nil, "=ZZ", nil },
      { "=4G", nil, "=4G", nil },
      { "=g0", nil, "=g0", nil },
      { "==41", nil, "==41", nil },
      { "=\rX", nil, "=\rX", nil },
      { "=4\r\n", nil, "=4\r", nil },
    } },
    { "keeps CR LF, removes soft breaks and drops other control bytes", {
      { "a=\r\nb", nil, "ab", nil },
      { "a\r\nb", nil, "a\r\nb", nil },
      { "a\nb", nil, "ab", nil },
      { "a\tb", nil, "a\tb", nil },
      { "~ !", nil, "~ !", nil },
      { "\128", nil, nil, nil },
      { "\0\1\8\11\12\14\31\127\255", nil, nil, nil },
      { "=\r\n", nil, nil, nil },
    } },
    { "drops a CR without its LF and decodes the byte behind it", {
      { "a\rb", nil, "ab", nil },
      { "a\r=41", nil, "aA", nil },
      { "\r\r\n", nil, "\r\n", nil },
      { "\r", "b", "b", "" },
      { "\r", "=", "", "=" },
      { "\r\r", "", "", "\r" },
      { "\r=4", "", "", "=4" },
      { "\r", nil, nil, nil },
      { "a\r", "", "a", "\r" },
    } },
    { "keeps unfinished escapes as remainder and drops them at the end", {
      { "=4", nil, nil, nil },
      { "=4", "1", "A", "" },
      { "=", "", "", "=" },
      { "=41=", "", "A", "=" },
      { "=\r", "\n", "", "" },
      { "=", "\r\nx", "x", "" },
      { "abc", "", "abc", "" },
      { "", "", "", "" },
      { "ab=4", nil, "ab", nil },
    } },
    { "answers nil, nil to a nil carry without reading the chunk", {
      { nil, nil, nil, nil },
      { nil, "=41", nil, nil },
    } },
  })

  it("reads every byte value after = and alone like the model", function()
    for b = 0, 255 do
      local c = string.char(b)
      for _, text in ipairs({ c, "=" .. c .. "1", "=4" .. c, "a" .. c .. "b", "\r" .. c .. "x" }) do
        local got1, got2 = mime.unqp(text, nil)
        local want1, want2 = model.unqp(text, nil)
        assert(got1 == want1 and got2 == want2, ("unqp(%s, nil): got %s, want %s")
          :format(support.show(text), support.show(got1), support.show(want1)))
      end
    end
  end)
end)

describe("qpwrp", function()
  support.row_tests(it, mime, "qpwrp", 3, {
    { "breaks lines before a byte that does not fit", {
      { 76, "hello", nil, "hello", 71 },
      { 0, "a", nil, "=\r\na", 75 },
      { 2, "ab", 5, "a=\r\nb", 4 },
      { 1, "ab", 5, "=\r\nab", 3 },
      { 2.9, "ab", 5, "a=\r\nb", 4 },
      { -3, "ab", 4, "=\r\nab", 2 },
      { 0, "ab", 0, "=\r\na=\r\nb", -1 },
      { 4, "", nil, "", 4 },
    } },
    { "never lets an escape start with fewer than four places left", {
      { 3, "=41", 76, "=\r\n=41", 73 },
      { 4, "a=41b", 76, "a=\r\n=41b", 72 },
      { 4, "=", nil, "=", 3 },
      { 3, "=", 76, "=\r\n=", 75 },
      { 6, "=41=42", 6, "=41=\r\n=42", 3 },
    } },
    { "turns LF into a hard break and drops CR", {
      { 5, "a\r\nb\nc", 5, "a\r\nb\r\nc", 4 },
      { 5, "a\rb", 5, "ab", 3 },
      { 0, "\n", 9, "\r\n", 9 },
      { 0, "\r", 9, "", 0 },
    } },
  })

  it("closes a line that holds something at the end of the stream", function()
    support.check_rows(mime, "qpwrp", 3, {
      { 10, nil, 76, "=\r\n", 76 },
      { 75, nil, nil, "=\r\n", 76 },
      { 76, nil, 76, nil, 76 },
      { 76, nil, nil, nil, 76 },
      { 77, nil, 76, nil, 76 },
      { 0, nil, 4, "=\r\n", 4 },
    })
    local out, room = mime.qpwrp(76)
    assert.is_nil(out)
    assert.are.equal(76, room)
  end)
end)

describe("quoted-printable streams", function()
  local function encode_wrapped(data, sizes, line_length)
    return support.encode_wrapped(mime, "qp", "qpwrp", data, sizes, line_length)
  end

  local HEX = "[0-9A-F]"

  -- Lines of at most line_length, soft break included; no lone CR or LF;
  -- every = opens a whole escape or a soft break on the same line.
  local function check_shape(text, line_length, context)
    for line in (text .. "\r\n"):gmatch("(.-)\r\n") do
      assert(#line <= line_length, ("%s: line of %d > %d: %s"):format(
        context, #line, line_length, support.show(line)))
    end
    assert(not text:gsub("\r\n", ""):find("[\r\n]"), context .. ": lone CR or LF")
    local at = text:find("=", 1, true)
    while at do
      local after = text:sub(at + 1, at + 2)
      assert(after == "\r\n" or after:find("^" .. HEX .. HEX .. "$"),
        ("%s: split escape at %d: %s"):format(context, at,
          support.show(text:sub(math.max(1, at - 8), at + 8))))
      at = text:find("=", at + (after == "\r\n" and 1 or 3), true)
    end
  end

  it("wraps without splitting escapes and decodes back to the input", function()
    local random = support.random(2045)
    local kinds = {
      function(n) return random.bytes(n) end,
      function(n) return random.bytes(n, "= \t\r\n.aZ09\255\128") end,
      function(n) return random.bytes(n, "= =\r\n") end,
    }
    for round = 1, 60 do
      local data = kinds[round % #kinds + 1](random.int(0, 250))
      local line_length = random.pick({ 4, 5, 6, 7, 8, 13, 76 })
      local sizes = { random.int(0, 7), random.int(1, 30), random.int(0, 2) }
      local context = ("round %d: %d bytes, line length %d"):format(round, #data, line_length)
      local wrapped = encode_wrapped(data, sizes, line_length)
      check_shape(wrapped, line_length, context)
      for _, size in ipairs({ 1, 2, 3, 4, 1000 }) do
        assert.are.equal(data, (support.feed(mime, "unqp", wrapped, { size })),
          context .. ", decoded by " .. size)
      end
    end
  end)

  it("wraps escapes whole whatever the chunking", function()
    local escapes = ("\255="):rep(40) .. "ab\0\r\ncd" .. ("=\1"):rep(30)
    local encoded = mime.qp(escapes, nil)
    for line_length = 4, 9 do
      local whole = support.feed(mime, "qpwrp", encoded, { #encoded },
        { state = line_length, param = line_length })
      for size = 1, 5 do
        local chunked = support.feed(mime, "qpwrp", encoded, { size },
          { state = line_length, param = line_length })
        assert.are.equal(whole, chunked, ("length %d, chunks of %d"):format(line_length, size))
        check_shape(chunked, line_length, ("length %d, chunks of %d"):format(line_length, size))
      end
    end
  end)
end)
