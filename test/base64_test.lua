-- Base64: b64 and unb64, alone and as a stream with wrp.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local model = support.model
local mime = require "mime.core"

local ALL_BYTES = {}
for b = 0, 255 do ALL_BYTES[#ALL_BYTES + 1] = string.char(b) end
ALL_BYTES = table.concat(ALL_BYTES)

describe("b64", function()
  support.row_tests(it, mime, "b64", 2, {
    { "encodes groups and pads the end of the stream", {
      { "a", nil, "YQ==", nil },
      { "ab", nil, "YWI=", nil },
      { "abc", nil, "YWJj", nil },
      { "\0", nil, "AA==", nil },
      { "\255\254\253", nil, "//79", nil },
      { "\0\0\0", nil, "AAAA", nil },
      { "\255\255", nil, "//8=", nil },
    } },
    { "matches the RFC 4648 test vectors", {
      { "", nil, nil, nil },
      { "f", nil, "Zg==", nil },
      { "fo", nil, "Zm8=", nil },
      { "foo", nil, "Zm9v", nil },
      { "foob", nil, "Zm9vYg==", nil },
      { "fooba", nil, "Zm9vYmE=", nil },
      { "foobar", nil, "Zm9vYmFy", nil },
    } },
    { "returns complete groups and keeps the rest as remainder", {
      { "ab", "c", "YWJj", "" },
      { "abcd", "e", "YWJj", "de" },
      { "", "", "", "" },
      { "a", "", "", "a" },
      { "", "ab", "", "ab" },
      { "abcdef", "", "YWJjZGVm", "" },
      { "abcdefg", "h", "YWJjZGVm", "gh" },
    } },
    { "answers nil, nil to a nil carry without reading the chunk", {
      { nil, nil, nil, nil },
      { nil, "abc", nil, nil },
      { nil, "", nil, nil },
    } },
    { "takes numbers in their string form", {
      { 123, nil, "MTIz", nil },
      { "", 45, "", "45" },
      { 1, 23, "MTIz", "" },
    } },
  })

  it("encodes every byte value at every start offset", function()
    for offset = 0, 3 do
      local data = ("x"):rep(offset) .. ALL_BYTES
      local whole = mime.b64(data, nil)
      assert.are.equal(model.b64(data, nil), whole, "offset " .. offset)
      assert.are.equal(data, mime.unb64(whole, nil), "offset " .. offset)
      local junked = whole:gsub("(....)", "%1\r\n"):gsub("(..)", "%1 ")
      assert.are.equal(model.unb64(junked, nil), mime.unb64(junked, nil), "offset " .. offset)
      assert.are.equal(data, mime.unb64(junked, nil), "offset " .. offset)
      for size = 1, 7 do
        assert.are.equal(whole, (support.feed(mime, "b64", data, { size })),
          ("offset %d, chunks of %d"):format(offset, size))
      end
    end
  end)
end)

describe("unb64", function()
  support.row_tests(it, mime, "unb64", 2, {
    { "decodes full and padded quartets", {
      { "YQ==", nil, "a", nil },
      { "YWI=", nil, "ab", nil },
      { "YWJj", nil, "abc", nil },
      { "Zm9vYmFy", nil, "foobar", nil },
      { "Zm9vYmE=", nil, "fooba", nil },
      { "Zm9vYg==", nil, "foob", nil },
      { "//79", nil, "\255\254\253", nil },
    } },
    { "decides the length of a quartet by where its = stand", {
      { "YQ==YQ==", nil, "aa", nil },
      { "YW=j", nil, "a", nil },
      { "====", nil, "\0", nil },
      { "AB=C", nil, "\0", nil },
      { "=AAA", nil, "\0\0\0", nil },
      { "A=AA", nil, "\0\0\0", nil },
      { "YWI=YWJj", nil, "ababc", nil },
    } },
    { "drops an incomplete quartet at the end of the stream", {
      { "YW", nil, nil, nil },
      { "YQ=", nil, nil, nil },
      { "Y", nil, nil, nil },
      { "YWJjYW", nil, "abc", nil },
      { "", nil, nil, nil },
    } },
    { "keeps an incomplete quartet as remainder", {
      { "YW", "Jj", "abc", "" },
      { "YQ", "==", "a", "" },
      { "YWJjZA", "", "abc", "ZA" },
      { "YWJ", "", "", "YWJ" },
      { "Y\r\nW", "", "", "YW" },
      { "", "", "", "" },
    } },
    { "skips every byte outside the alphabet, the URL-safe ones too", {
      { "Y W\r\nJj", nil, "abc", nil },
      { "!#$%", nil, nil, nil },
      { "-_-_", nil, nil, nil },
      { "Y-W_J\0j", nil, "abc", nil },
      { "\255Y\128WJj\127", nil, "abc", nil },
    } },
    { "maps A, a, 0, + and / to 0, 26, 52, 62 and 63", {
      { "AAAA", nil, "\0\0\0", nil },
      { "AAAa", nil, "\0\0\26", nil },
      { "AAA0", nil, "\0\0\52", nil },
      { "AAA+", nil, "\0\0\62", nil },
      { "AAA/", nil, "\0\0\63", nil },
    } },
    { "answers nil, nil to a nil carry without reading the chunk", {
      { nil, nil, nil, nil },
      { nil, "YWJj", nil, nil },
    } },
  })

  it("reads every byte value in every quartet position like the model", function()
    for b = 0, 255 do
      local c = string.char(b)
      for _, text in ipairs({ c .. "AAA", "A" .. c .. "AA", "AA" .. c .. "A", "AAA" .. c,
                              "QUJD" .. c .. "QUJD" }) do
        local got1, got2 = mime.unb64(text, nil)
        local want1, want2 = model.unb64(text, nil)
        assert(got1 == want1 and got2 == want2, ("unb64(%s, nil): got %s, want %s")
          :format(support.show(text), support.show(got1), support.show(want1)))
      end
    end
  end)
end)

describe("base64 streams", function()
  local function encode_wrapped(data, sizes, line_length)
    return support.encode_wrapped(mime, "b64", "wrp", data, sizes, line_length)
  end

  local function expected_lines(text, line_length)
    local lines = {}
    for at = 1, #text, line_length do
      lines[#lines + 1] = text:sub(at, at + line_length - 1) .. "\r\n"
    end
    return table.concat(lines)
  end

  it("encodes, wraps and decodes back to the input", function()
    local random = support.random(4648)
    for round = 1, 40 do
      local data = random.bytes(random.int(0, 300))
      local line_length = random.pick({ 1, 4, 7, 64, 76, 100 })
      local sizes = { random.int(0, 9), random.int(1, 40), random.int(0, 3) }
      local wrapped = encode_wrapped(data, sizes, line_length)
      local context = ("round %d: %d bytes, line length %d"):format(round, #data, line_length)
      assert.are.equal(expected_lines(mime.b64(data, nil) or "", line_length), wrapped, context)
      assert.are.equal(data, mime.unb64(wrapped, nil) or "", context)
      for _, size in ipairs({ 1, 2, 3, 5, 77 }) do
        assert.are.equal(data, (support.feed(mime, "unb64", wrapped, { size })), context)
      end
    end
  end)

  it("gives the same text whatever the chunk sizes", function()
    local random = support.random(2045)
    local data = random.bytes(200)
    local whole = mime.b64(data, nil)
    local encoded = whole .. "\r\n" .. whole
    local decoded = data .. data
    for size = 1, 12 do
      assert.are.equal(whole, (support.feed(mime, "b64", data, { size })), "b64 by " .. size)
      assert.are.equal(decoded, (support.feed(mime, "unb64", encoded, { size })),
        "unb64 by " .. size)
    end
  end)
end)
