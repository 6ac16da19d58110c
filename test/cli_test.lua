-- Tests of the command-line tool bin/mimefilter: round trips on random data
-- of many sizes and agreement with the module called once on the whole input
-- (here), and its options, messages and exit status (the transcript cli.t,
-- run by cram).
--
-- Run from the repository root. MIME_LUA names the interpreter that runs the
-- tool (default lua5.1); the module is found through LUA_CPATH and LUA_PATH.

local mime = require "mime.core"

local LUA = os.getenv("MIME_LUA") or "lua5.1"
local TOOL = "bin/mimefilter"
local BLOCK = 64 * 1024 -- the tool's read size: sizes around it cross a block edge

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local quote, temp_file, assert_same = support.shell_quote, support.temp_file, support.assert_same

-- Runs the tool with a shell argument string, standard input from
-- `input_path` (or /dev/null). Returns the exit status, standard output and
-- standard error.
local function run(arguments, input_path)
  return support.run_shell(("%s %s %s < %s"):format(LUA, TOOL, arguments,
    quote(input_path or "/dev/null")))
end

-- Runs the tool on `data` given as a file argument; asserts success.
local function filter(arguments, data)
  local status, stdout, stderr = run(arguments .. " " .. quote(temp_file(data)))
  assert.are.equal("", stderr)
  assert.are.equal(0, status)
  return stdout
end

---------------------------------------------------------------------------
-- Test data.
---------------------------------------------------------------------------

local random = support.random(20240607)
local CHARS = {}
for value = 0, 255 do CHARS[value] = string.char(value) end

local function random_bytes(size)
  local bytes, next_number = {}, random.next
  for index = 1, size do bytes[index] = CHARS[next_number() % 256] end
  return bytes
end

-- Puts `text` into `bytes` at `position` (1-based), within bounds.
local function place(bytes, position, text)
  for offset = 1, #text do
    local index = position + offset - 1
    if index >= 1 and index <= #bytes then bytes[index] = text:sub(offset, offset) end
  end
end

-- Random bytes of every value, with a CR LF split by each block edge so
-- that the tool has to carry line-end state from one block to the next.
local function binary_data(size)
  local bytes = random_bytes(size)
  for edge = BLOCK, size - 1, BLOCK do place(bytes, edge, "\r\n") end
  return table.concat(bytes)
end

-- Text-like data whose only line breaks are CR LF pairs, with many of the
-- bytes that quoted-printable and dot-stuffing treat specially: spaces and
-- tabs (some right before a line end), "=", "." at line starts, 8-bit bytes.
-- At each block edge the sequence space, CR, LF, "." is split at a different
-- place.
local SPECIAL = { " ", "\t", "=", ".", "\r\n", "\r\n.", " \r\n", "\t\r\n", "\r\n\r\n", "\0", "\255" }
local function crlf_text(size)
  local bytes = random_bytes(size)
  for index = 1, size do
    local byte = bytes[index]
    if byte == "\r" or byte == "\n" then bytes[index] = "x" end
  end
  local index = 1
  while index <= size do
    if random.int(1, 4) == 1 then
      local special = random.pick(SPECIAL)
      place(bytes, index, special)
      index = index + #special
    else
      index = index + 1
    end
  end
  local shift = 0
  for edge = BLOCK, size - 1, BLOCK do
    place(bytes, edge - shift, " \r\n.")
    shift = (shift + 1) % 3
  end
  -- Placing may have cut a CR LF in two: no CR or LF may stand alone.
  for index = 1, size do
    if bytes[index] == "\r" and bytes[index + 1] ~= "\n" then bytes[index] = "x" end
    if bytes[index] == "\n" and bytes[index - 1] ~= "\r" then bytes[index] = "y" end
  end
  return table.concat(bytes)
end

---------------------------------------------------------------------------
-- What the module gives when called once on the whole input.
---------------------------------------------------------------------------

local function whole_b64(data, line_length) return support.whole_b64(mime, data, line_length) end
local function whole_qp(data, line_length) return support.whole_qp(mime, data, line_length) end

local function whole_eol(data, line_end)
  return (mime.eol(0, data, line_end))
end

local function whole_dot(data)
  return (mime.dot(2, (mime.eol(0, data))))
end

-- Undoes dot-stuffing: a line that begins with ".." began with ".".
local function unstuff(data)
  return (data:gsub("^%.%.", "."):gsub("\r\n%.%.", "\r\n."))
end

-- Splits text ended by CR LF into its lines; fails on a bare CR or LF.
local function crlf_lines(text)
  local lines = {}
  for line in text:gmatch("(.-)\r\n") do
    assert.is_nil(line:find("[\r\n]"), "bare CR or LF inside a line")
    lines[#lines + 1] = line
  end
  assert.are.equal(#text, #table.concat(lines) + 2 * #lines, "text not ended by CR LF")
  return lines
end

local LINE_ENDS = { crlf = "\r\n", lf = "\n", cr = "\r" }

describe("mimefilter #shell", function()
  teardown(support.remove_temp_files)

  -- Round trips of random data, and agreement with a single module call,
  -- for inputs of each size.
  local function round_trips(sizes)
    for _, size in ipairs(sizes) do
      -- Made on first use, so that a run that leaves the tests out skips it.
      local made
      local function data()
        made = made or { binary_data(size), crlf_text(size) }
        return made[1], made[2]
      end

      it("b64 then unb64 gives back " .. size .. " random bytes", function()
        local binary = data()
        local encoded = filter("b64", binary)
        assert_same(whole_b64(binary, 76), encoded)
        assert_same(binary, filter("unb64", encoded))
        assert_same(binary, filter("unb64 --strict", encoded))
        assert_same((encoded:gsub("\r\n", "\n")), filter("b64 --line-end lf", binary))
      end)

      it("qp then unqp gives back " .. size .. " bytes of CR LF text", function()
        local _, text = data()
        local encoded = filter("qp", text)
        assert_same(whole_qp(text, 76), encoded)
        for _, line in ipairs(crlf_lines(encoded)) do
          assert.is_true(#line <= 76, "line longer than 76: " .. #line)
        end
        local decoded = filter("unqp", encoded)
        assert_same(mime.unqp(encoded, nil) or "", decoded)
        assert_same(text, decoded)
        assert_same(text, filter("unqp --strict", encoded))
        -- Stored with bare LF line ends, it decodes the same.
        local unix = filter("qp --line-end lf", text)
        assert_same((encoded:gsub("\r\n", "\n")), unix)
        assert_same(text, filter("unqp --strict", unix))
      end)

      it("qp turns every line end of " .. size .. " random bytes into CR LF first", function()
        local binary = data()
        local encoded = filter("qp", binary)
        assert_same(whole_qp(binary, 76), encoded)
        assert_same(whole_eol(binary, "\r\n"), filter("unqp", encoded))
      end)

      it("eol rewrites the line ends of " .. size .. " random bytes", function()
        local binary = data()
        for name, line_end in pairs(LINE_ENDS) do
          assert_same(whole_eol(binary, line_end), filter("eol --line-end " .. name, binary))
        end
        assert_same(whole_eol(binary, "\r\n"), filter("eol", binary))
      end)

      it("eol to lf and back to crlf gives back " .. size .. " bytes of CR LF text", function()
        local _, text = data()
        local unix = filter("eol --line-end lf", text)
        assert.is_nil(unix:find("\r", 1, true))
        assert_same(text, filter("eol --line-end crlf", unix))
      end)

      it("dot stuffs " .. size .. " bytes and unstuffing gives them back", function()
        local binary, text = data()
        local stuffed = filter("dot", text)
        assert_same(whole_dot(text), stuffed)
        assert_same(text, unstuff(stuffed))
        local dotted = "." .. text -- a dot in the very first byte is stuffed too
        stuffed = filter("dot", dotted)
        assert_same("..", stuffed:sub(1, 2))
        assert_same(whole_dot(dotted), stuffed)
        assert_same(dotted, unstuff(stuffed))
        assert_same(whole_dot(binary), filter("dot", binary))
        local data = whole_dot(binary)
        local ending = (data == "" or data:sub(-2) == "\r\n") and ".\r\n" or "\r\n.\r\n"
        assert_same(data .. ending, filter("smtp", binary))
      end)
    end
  end

  describe("round trips of small inputs and across the 64 KiB block edge", function()
    round_trips({ 0, 1, 2, 3, 75, 76, 77, BLOCK - 1, BLOCK, BLOCK + 1 })
  end)

  describe("round trips of 1 MiB #slow", function()
    round_trips({ 1024 * 1024 + 7 })
  end)

  describe("line lengths", function()
    local data = binary_data(1000)
    local text = crlf_text(1000) .. string.rep("=", 300) .. "\r\n" .. string.rep("a", 300)

    for _, length in ipairs({ 1, 2, 3, 4, 5, 10, 63, 64, 75, 76, 77, 1000, 2000 }) do
      it("b64 --line-length " .. length .. " gives full lines of that length", function()
        local encoded = filter("b64 --line-length " .. length, data)
        assert_same(whole_b64(data, length), encoded)
        local lines = crlf_lines(encoded)
        for index, line in ipairs(lines) do
          if index < #lines then
            assert.are.equal(length, #line)
          else
            assert.is_true(#line >= 1 and #line <= length)
          end
        end
        assert_same(data, filter("unb64", encoded))
      end)
    end

    for _, length in ipairs({ 4, 5, 6, 10, 76, 77, 1000 }) do
      it("qp --line-length " .. length .. " keeps lines within that length", function()
        local encoded = filter("qp --line-length " .. length, text)
        assert_same(whole_qp(text, length), encoded)
        for _, line in ipairs(crlf_lines(encoded)) do
          assert.is_true(#line <= length, "line of " .. #line)
        end
        assert_same(text, filter("unqp", encoded))
      end)
    end

    it("accepts --line-length=N as well as --line-length N", function()
      assert_same(whole_b64(data, 20), filter("b64 --line-length=20", data))
      assert_same(whole_qp(text, 20), filter("qp --line-length=20", text))
    end)

    it("writes one unbroken line, and its line end, with b64 -w 0", function()
      for _, size in ipairs({ 0, 1, 2, 3, 57, 58, 1000, BLOCK + 1 }) do
        local input = binary_data(size)
        local encoded = filter("b64 -w 0", input)
        assert_same(whole_b64(input) .. (size > 0 and "\r\n" or ""), encoded)
        assert.is_nil(encoded:sub(1, -3):find("[\r\n]"))
        assert_same(input, filter("unb64", encoded))
      end
    end)
  end)

  describe("input and names", function()
    local data = binary_data(BLOCK + 5)

    it("reads standard input when no file or '-' is given", function()
      local path = temp_file(data)
      local expected = whole_b64(data, 76)
      for _, arguments in ipairs({ "b64", "b64 -" }) do
        local status, stdout, stderr = run(arguments, path)
        assert.are.equal(0, status)
        assert.are.equal("", stderr)
        assert_same(expected, stdout)
      end
    end)

    it("takes a file after the options or before them", function()
      local path = quote(temp_file(data))
      local expected = whole_b64(data, 30)
      assert_same(expected, (select(2, run("b64 --line-length 30 " .. path))))
      assert_same(expected, (select(2, run("b64 " .. path .. " --line-length 30"))))
      assert_same(expected, (select(2, run("b64 --line-length 30 -- " .. path))))
    end)

    it("knows base64-encode and base64-decode as other names of b64 and unb64", function()
      local encoded = filter("base64-encode", data)
      assert_same(whole_b64(data, 76), encoded)
      assert_same(data, filter("base64-decode", encoded))
    end)

    it("decodes Base64 with junk and odd line breaks in it", function()
      local encoded = whole_b64(data, 76)
      local messy = encoded:gsub("\r\n", " \n\t!"):gsub("(....)", "%1\r")
      assert_same(data, filter("unb64", messy))
    end)
  end)

  describe("memory #slow", function()
    -- 64 MiB through each operation and back under a 48 MiB address-space
    -- limit: a tool that held its input or output whole would run out.
    local SIZE = 64 * 1024 * 1024
    local pipelines = {
      "b64 | %s %s unb64",
      "b64 --no-wrap | %s %s base64-decode",
      "qp | %s %s unqp",
      "eol --line-end lf",
      "dot",
    }
    for _, pipeline in ipairs(pipelines) do
      local shown = pipeline:gsub(" | %%s %%s ", " | ")
      it("streams 64 MiB through '" .. shown .. "' in bounded memory", function()
        local command = string.format("head -c %d /dev/zero | (ulimit -v 49152; %s %s "
          .. pipeline .. ") | cksum", SIZE, LUA, TOOL, LUA, TOOL)
        local _, result = support.run_shell(command .. " 2>&1")
        local _, expected = support.run_shell(("head -c %d /dev/zero | cksum"):format(SIZE))
        assert.are.equal(expected, result)
      end)
    end
  end)

  it("prints what its transcript shows (test/cli.t)", function()
    support.run_transcript("test/cli.t")
  end)

  it("has a manual page (docs/mimefilter.1) with every operation and option of --help",
    function()
      local status, help = run("--help")
      assert.are.equal(0, status)
      local page = support.read_file("docs/mimefilter.1"):gsub("\\%-", "-")
      local count = 0
      for _, section in ipairs({ "Operations", "Options" }) do
        local listed = help:match("\n" .. section .. ":\n(.-)\n\n")
        local described = page:match("\n%.SH " .. section:upper() .. "\n(.-)\n%.SH ")
        -- "  name, other name   what it does", continued deeper in.
        for line in listed:gmatch("[^\n]+") do
          for _, name in ipairs({ line:match("^  ([%w-]+)"), line:match("^  [%w-]+, ([%w-]+)") }) do
            count = count + 1
            assert.truthy(described:find("%f[%w-]" .. name:gsub("%-", "%%-") .. "%f[^%w-]"),
              "docs/mimefilter.1, " .. section .. ": no " .. name)
          end
        end
      end
      assert.is_true(count >= 13, "operations and options not found in --help")
    end)
end)
