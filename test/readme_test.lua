-- Every Lua block of README.md runs here: what it prints must match its
-- "--> " annotations, and what it builds must decode back to what it read.
local mime = require "mime.core"

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local read_file = dofile(here .. "support.lua").read_file

local blocks = {}
for body in read_file("README.md"):gmatch("\n```lua\n(.-)\n```\n") do
  blocks[#blocks + 1] = body
end

-- Text with every kind of line end, dots at line starts, white space before line
-- ends and 8-bit bytes, long enough for several 8 KiB reads.
local parts = {}
for i = 1, 400 do
  parts[#parts + 1] = ({ "Line ", ".dot ", "caf\195\169 ", "tab\t", "a = b ", "..", "end " })[i % 7 + 1]
  parts[#parts + 1] = ({ "\r\n", "\n", "\r", " \r\n", "\n\r", "x", "\t\n" })[i % 5 + 1]
end
local SAMPLE = table.concat(parts):rep(8) .. ".last line, with no line end"

-- A file whose reads hand out SAMPLE piece by piece.
local function sample_file()
  local position = 1
  return {
    read = function(_, size)
      if position > #SAMPLE then return nil end
      local piece = SAMPLE:sub(position, position + size - 1)
      position = position + size
      return piece
    end,
  }
end

local function run_block(source)
  local printed = {}
  local environment = setmetatable({
    mime = mime,
    file = sample_file(),
    print = function(...)
      local shown = {}
      for i = 1, select("#", ...) do shown[i] = tostring((select(i, ...))) end
      printed[#printed + 1] = table.concat(shown, "\t")
    end,
  }, { __index = _G })
  -- The block's locals are handed back for the checks below.
  local code = source .. "\nreturn { body = body, data = data, out = out }"
  local chunk
  if setfenv then
    chunk = assert(loadstring(code, "=README"))
    setfenv(chunk, environment)
  else
    chunk = assert(load(code, "=README", "t", environment))
  end
  return chunk(), printed
end

local function lines_within(text, length)
  for line in text:gmatch("(.-)\r\n") do
    if #line > length then return false end
  end
  return text:sub(-2) == "\r\n"
end

-- What a block built, checked against what it read.
local function check(source, results)
  local crlf_text = mime.eol(0, SAMPLE)
  if results.body and source:find("mime.b64", 1, true) then
    assert.is_true(lines_within(results.body, 76))
    assert.are.equal(SAMPLE, (mime.unb64(results.body, nil)))
  elseif results.body and source:find("mime.qp", 1, true) then
    assert.is_true(lines_within(results.body, 76))
    assert.are.equal(crlf_text, (mime.unqp(results.body, nil)))
  elseif results.data then
    assert.are.equal("\r\n.\r\n", results.data:sub(-5))
    local unstuffed = ("\r\n" .. results.data:sub(1, -4)):gsub("\r\n%.", "\r\n"):sub(3)
    assert.are.equal(crlf_text .. (crlf_text:sub(-2) == "\r\n" and "" or "\r\n"), unstuffed)
  elseif results.out then
    assert.are.equal((mime.b64(SAMPLE, nil)), table.concat(results.out))
  end
end

describe("README.md", function()
  it("has Lua blocks", function()
    assert.is_true(#blocks >= 5)
  end)

  for number, source in ipairs(blocks) do
    it("Lua block " .. number .. " runs and does what it says", function()
      local results, printed = run_block(source)
      local expected = {}
      for line in (source .. "\n"):gmatch("(.-)\n") do
        local shown = line:match("^%s*print%(.*%-%-> (.*)$")
        if shown then expected[#expected + 1] = shown end
      end
      assert.are.same(expected, printed)
      check(source, results)
    end)
  end
end)
