-- The line filters: wrp, eol and dot, alone, across chunk boundaries and
-- chained the way a mail writer runs them.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local mime = require "mime.core"

describe("wrp", function()
  support.row_tests(it, mime, "wrp", 3, {
    { "breaks before a byte that no longer fits", {
      { 76, "hello", nil, "hello", 71 },
      { 3, "abcdefg", 3, "abc\r\ndef\r\ng", 2 },
      { 3, "abc", 3, "abc", 0 },
      { 0, "ab", 2, "\r\nab", 0 },
      { 2.9, "abc", 2, "ab\r\nc", 1 },
      { -1, "a", 3, "\r\na", 2 },
      { 1, "ab", 0, "a\r\nb", -1 },
      { 0, "abc", -2, "\r\na\r\nb\r\nc", -3 },
      { 4, "", nil, "", 4 },
    } },
    { "turns LF into a break and drops CR", {
      { 5, "a\r\nb\nc", 5, "a\r\nb\r\nc", 4 },
      { 3, "\n", 3, "\r\n", 3 },
      { 0, "\r", 3, "", 0 },
      { 1, "a\rb", 3, "a\r\nb", 2 },
      { 0, "\n\n", 9, "\r\n\r\n", 9 },
    } },
    { "closes a line that holds something at the end of the stream", {
      { 10, nil, nil, "\r\n", 76 },
      { 76, nil, 76, nil, 76 },
      { 80, nil, 76, nil, 76 },
      { 0, nil, 3, "\r\n", 3 },
      { 2, nil, 2, nil, 2 },
    } },
  })

  it("leaves a full line open at a chunk end", function()
    support.check_streams(mime, "wrp", {
      { { "abc", "d" }, "abc\r\nd\r\n", state = 3, param = 3 },
      { { "abc" }, "abc\r\n", state = 3, param = 3 },
      { { "abc", "" }, "abc\r\n", state = 3, param = 3 },
      { { "ab", "c", "\n", "d" }, "abc\r\nd\r\n", state = 3, param = 3 },
      { { "abc", "\r", "\n" }, "abc\r\n", state = 3, param = 3 },
      { { "abcdef" }, "abc\r\ndef\r\n", state = 3, param = 3 },
      { { "ab", "cd" }, "a\r\nb\r\nc\r\nd\r\n", state = 1, param = 1 },
    })
  end)
end)

describe("eol", function()
  local E = "\r\n"

  support.row_tests(it, mime, "eol", 3, {
    { "writes one line end for CR, LF, CR LF and LF CR", {
      { 0, "a\rb\nc\r\nd\n\re\r\rf\n\ng", nil,
        "a" .. E .. "b" .. E .. "c" .. E .. "d" .. E .. "e" .. E .. E .. "f" .. E .. E .. "g", 0 },
      { 0, "\r", nil, E, 13 },
      { 0, "\n", nil, E, 10 },
      { 0, "\r\n\r\n", nil, E .. E, 0 },
      { 0, "\n\n\n", nil, E .. E .. E, 10 },
      { 0, "\n\r\n\r", nil, E .. E, 0 },
      { 0, "\r\r\r", nil, E .. E .. E, 13 },
      { 0, "abc", nil, "abc", 0 },
    } },
    { "finishes a pair begun in the previous chunk", {
      { 13, "\nx", nil, "x", 0 },
      { 10, "\rx", nil, "x", 0 },
      { 10, "\nx", nil, E .. "x", 0 },
      { 13, "\rx", nil, E .. "x", 0 },
      { 13, "x", nil, "x", 0 },
      { 13, "\n\r", nil, E, 13 },
    } },
    { "treats other states as 0 and hands them back for an empty chunk", {
      { 0, "", nil, "", 0 },
      { 13, "", nil, "", 13 },
      { 5, "", nil, "", 5 },
      { 5, "\nx", nil, E .. "x", 0 },
      { 5, "x", nil, "x", 0 },
      { -1, "\r", nil, E, 13 },
    } },
    { "ends the stream with nil and 0 whatever the state", {
      { 0, nil, nil, nil, 0 },
      { 13, nil, nil, nil, 0 },
      { 10, nil, "XY", nil, 0 },
      { 5, nil, nil, nil, 0 },
    } },
    { "writes the caller's line end up to its first zero byte", {
      { 0, "a\nb", "\n", "a\nb", 0 },
      { 0, "a\r\nb", "", "ab", 0 },
      { 0, "a\rb", "XY", "aXYb", 0 },
      { 0, "a\nb", "A\0B", "aAb", 0 },
      { 0, "a\n\nb", 7, "a77b", 0 },
    } },
  })

  it("joins pairs split across chunks", function()
    support.check_streams(mime, "eol", {
      { { "a\r", "\nb" }, "a" .. E .. "b" },
      { { "a\n", "\rb" }, "a" .. E .. "b" },
      { { "a\r", "", "\nb" }, "a" .. E .. "b" },
      { { "\r", "\r" }, E .. E },
      { { "\n", "\n" }, E .. E },
      { { "\r", "\n", "\r", "\n" }, E .. E },
      { { "\r", "\n\r", "\n" }, E .. E },
      { { "\n", "\r", "\r" }, E .. E },
      { { "a\r", "\nb" }, "a\nb", param = "\n" },
      { { "\r", "\n" }, "", param = "" },
    })
  end)
end)

describe("dot", function()
  support.row_tests(it, mime, "dot", 2, {
    { "doubles a dot that begins a line", {
      { 2, ".a\r\n.b\n.c\r\n..d", "..a\r\n..b\n.c\r\n...d", 0 },
      { 0, ".", ".", 0 },
      { 2, ".", "..", 0 },
      { 1, "\n.", "\n..", 0 },
      { 0, "\r\r\n.", "\r\r\n..", 0 },
      { 0, "a\r\n.\r\n", "a\r\n..\r\n", 2 },
    } },
    { "tracks how far the stream is through a CR LF", {
      { 0, "\r\n", "\r\n", 2 },
      { 0, "\r", "\r", 1 },
      { 1, "\r\n", "\r\n", 2 },
      { 2, "\n.", "\n.", 0 },
      { 2, "x", "x", 0 },
      { 1, "x.", "x.", 0 },
      { 2, "\r", "\r", 1 },
    } },
    { "treats other states as 0 and hands them back for an empty chunk", {
      { 5, "", "", 5 },
      { 1, "", "", 1 },
      { 5, ".", ".", 0 },
      { 5, "\n.", "\n.", 0 },
    } },
    { "ends the stream with nil and 2", {
      { 2, nil, nil, 2 },
      { 0, nil, nil, 2 },
      { 7, nil, nil, 2 },
    } },
  })

  it("stuffs across CR | LF | . splits", function()
    support.check_streams(mime, "dot", {
      { { "\r", "\n", "." }, "\r\n..", state = 0 },
      { { "a\r", "\n.", "b" }, "a\r\n..b", state = 0 },
      { { "\r\n", ".." }, "\r\n...", state = 0 },
      { { "\r", "", "\n", "", "." }, "\r\n..", state = 0 },
      { { "\r", "x\n", "." }, "\rx\n.", state = 0 },
      { { "", "." }, "..", state = 2 },
      { { "\n", "." }, "\n..", state = 1 },
      { { "\n", "." }, "\n.", state = 2 },
    })
  end)
end)

describe("line filter chains", function()
  -- SMTP data: any line ends become CR LF, then lines starting with a dot
  -- are stuffed.
  local function smtp_data(text, sizes)
    local last_break, line_state, out = 0, 2, {}
    local normalised, stuffed
    for _, chunk in ipairs(support.split(text, sizes)) do
      normalised, last_break = mime.eol(last_break, chunk, "\r\n")
      stuffed, line_state = mime.dot(line_state, normalised)
      out[#out + 1] = stuffed
    end
    assert.is_nil((mime.eol(last_break, nil)))
    assert.is_nil((mime.dot(line_state, nil)))
    return table.concat(out)
  end

  it("normalises line ends then stuffs dots, in any chunking", function()
    local text = ".start\nSubject: x\n.\rbody\r\n..two\n\rend.\r\r.\n"
    local want = "..start\r\nSubject: x\r\n..\r\nbody\r\n...two\r\nend.\r\n\r\n..\r\n"
    for size = 1, #text do
      assert.are.equal(want, smtp_data(text, { size }), "chunks of " .. size)
    end
    assert.are.equal(want, smtp_data(text, { 0, 1, 0, 2, 3 }))
  end)
end)
