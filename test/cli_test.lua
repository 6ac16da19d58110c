-- Tests of the command-line tool bin/mimefilter: round trips on random data
-- of many sizes, agreement with the module called once on the whole input,
-- the options, and every error path.
--
-- Run from the repository root. MIME_LUA names the interpreter that runs the
-- tool (default lua5.1); the module is found through LUA_CPATH.

local mime = require "mime.core"

local LUA = os.getenv("MIME_LUA") or "lua5.1"
local TOOL = "bin/mimefilter"
local BLOCK = 64 * 1024 -- the tool's read size: sizes around it cross a block edge

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local quote, temp_file, assert_same = support.shell_quote, support.temp_file, support.assert_same

-- Runs the tool with a shell argument string. Standard input comes from
-- `input_path` (or /dev/null); `stdout_target` overrides where standard
-- output goes; `environment` is put in front of the command (VAR=value ...).
-- Returns the exit status, standard output and standard error.
local function run(arguments, input_path, stdout_target, environment)
  return support.run_shell(("%s%s %s %s < %s"):format(environment or "", LUA, TOOL, arguments,
    quote(input_path or "/dev/null")), stdout_target)
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

local SIZES = { 0, 1, 2, 3, 75, 76, 77, BLOCK - 1, BLOCK, BLOCK + 1, 1024 * 1024 + 7 }

math.randomseed(20240607)

local function random_bytes(size)
  local bytes = {}
  for index = 1, size do bytes[index] = string.char(math.random(0, 255)) end
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
    if math.random(4) == 1 then
      local special = SPECIAL[math.random(#SPECIAL)]
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

describe("mimefilter", function()
  teardown(support.remove_temp_files)

  describe("round trips and agreement with a single module call", function()
    for _, size in ipairs(SIZES) do
      local binary = binary_data(size)
      local text = crlf_text(size)

      it("b64 then unb64 gives back " .. size .. " random bytes", function()
        local encoded = filter("b64", binary)
        assert_same(whole_b64(binary, 76), encoded)
        assert_same(binary, filter("unb64", encoded))
      end)

      it("qp then unqp gives back " .. size .. " bytes of CR LF text", function()
        local encoded = filter("qp", text)
        assert_same(whole_qp(text, 76), encoded)
        for _, line in ipairs(crlf_lines(encoded)) do
          assert.is_true(#line <= 76, "line longer than 76: " .. #line)
        end
        local decoded = filter("unqp", encoded)
        assert_same(mime.unqp(encoded, nil) or "", decoded)
        assert_same(text, decoded)
      end)

      it("qp turns every line end of " .. size .. " random bytes into CR LF first", function()
        local encoded = filter("qp", binary)
        assert_same(whole_qp(binary, 76), encoded)
        assert_same(whole_eol(binary, "\r\n"), filter("unqp", encoded))
      end)

      it("eol rewrites the line ends of " .. size .. " random bytes", function()
        for name, line_end in pairs(LINE_ENDS) do
          assert_same(whole_eol(binary, line_end), filter("eol --line-end " .. name, binary))
        end
        assert_same(whole_eol(binary, "\r\n"), filter("eol", binary))
      end)

      it("eol to lf and back to crlf gives back " .. size .. " bytes of CR LF text", function()
        local unix = filter("eol --line-end lf", text)
        assert.is_nil(unix:find("\r", 1, true))
        assert_same(text, filter("eol --line-end crlf", unix))
      end)

      it("dot stuffs " .. size .. " bytes and unstuffing gives them back", function()
        local stuffed = filter("dot", text)
        assert_same(whole_dot(text), stuffed)
        assert_same(text, unstuff(stuffed))
        local dotted = "." .. text -- a dot in the very first byte is stuffed too
        stuffed = filter("dot", dotted)
        assert_same("..", stuffed:sub(1, 2))
        assert_same(whole_dot(dotted), stuffed)
        assert_same(dotted, unstuff(stuffed))
        assert_same(whole_dot(binary), filter("dot", binary))
      end)
    end
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

    it("writes one unbroken line with b64 --no-wrap", function()
      for _, size in ipairs({ 0, 1, 2, 3, 57, 58, 1000, BLOCK + 1 }) do
        local input = binary_data(size)
        local encoded = filter("b64 --no-wrap", input)
        assert_same(whole_b64(input), encoded)
        assert.is_nil(encoded:find("[\r\n]"))
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

  describe("memory", function()
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
        local pipe = assert(io.popen(command .. " 2>&1"))
        local result = pipe:read("*a")
        pipe:close()
        local expected_pipe = assert(io.popen(string.format("head -c %d /dev/zero | cksum", SIZE)))
        local expected = expected_pipe:read("*a")
        expected_pipe:close()
        assert.are.equal(expected, result)
      end)
    end
  end)

  describe("--help and --version", function()
    for _, arguments in ipairs({ "--help", "-h", "b64 --help", "qp --line-length 30 --help" }) do
      it("'" .. arguments .. "' prints the usage and exits 0", function()
        local status, stdout, stderr = run(arguments)
        assert.are.equal(0, status)
        assert.are.equal("", stderr)
        assert.truthy(stdout:find("Usage: mimefilter OPERATION", 1, true))
        for _, word in ipairs({ "b64", "unb64", "qp", "unqp", "eol", "dot", "--line-length",
                                "--no-wrap", "--line-end", "Examples:" }) do
          assert.truthy(stdout:find(word, 1, true), "usage lacks " .. word)
        end
      end)
    end

    it("prints the module's version and exits 0", function()
      local status, stdout, stderr = run("--version")
      assert.are.equal(0, status)
      assert.are.equal("", stderr)
      assert.are.equal(mime._VERSION .. "\n", stdout)
    end)

    it("still prints the usage when the module cannot be loaded, but fails otherwise", function()
      local hide = "LUA_CPATH=/nonexistent/?.so LUA_PATH=/nonexistent/?.lua "
      local status, stdout = run("--help", nil, nil, hide)
      assert.are.equal(0, status)
      assert.truthy(stdout:find("Usage:", 1, true))
    end)
  end)

  describe("errors", function()
    local input = temp_file("some input\n")
    local cases = {
      { "", "no operation" },
      { "frobnicate", "unknown operation 'frobnicate'" },
      { "--frobnicate", "unknown operation '%-%-frobnicate'" },
      { "b64 /nonexistent/dir/file", "cannot open /nonexistent/dir/file" },
      { "b64 .", "cannot read %." },
      { "b64 --line-length abc", "bad value for %-%-line%-length: 'abc'" },
      { "b64 --line-length=abc", "bad value for %-%-line%-length: 'abc'" },
      { "b64 --line-length 0", "bad value for %-%-line%-length: '0'" },
      { "b64 --line-length -5", "bad value for %-%-line%-length: '%-5'" },
      { "b64 --line-length 7.5", "bad value for %-%-line%-length: '7%.5'" },
      { "b64 --line-length 0x10", "bad value for %-%-line%-length: '0x10'" },
      { "b64 --line-length 2147483648", "bad value for %-%-line%-length: '2147483648'" },
      { "qp --line-length 3", "bad value for %-%-line%-length: '3'" },
      { "b64 --line-length", "option %-%-line%-length needs a value" },
      { "eol --line-end foo", "bad value for %-%-line%-end: 'foo'" },
      { "eol --line-end", "option %-%-line%-end needs a value" },
      { "eol --line-end=", "bad value for %-%-line%-end: ''" },
      { "b64 --frobnicate", "unknown option '%-%-frobnicate'" },
      { "b64 --no-wrap=yes", "option %-%-no%-wrap takes no value" },
      { "unb64 --no-wrap", "option %-%-no%-wrap does not apply to unb64" },
      { "eol --line-length 10", "option %-%-line%-length does not apply to eol" },
      { "b64 --line-end lf", "option %-%-line%-end does not apply to b64" },
      { "b64 one two", "more than one input file" },
    }
    for _, case in ipairs(cases) do
      local arguments, message = case[1], case[2]
      it("'" .. arguments .. "' fails with a message", function()
        local status, stdout, stderr = run(arguments, input)
        assert.are_not.equal(0, status)
        assert.are.equal("", stdout)
        assert.truthy(stderr:find("^mimefilter: " .. message), "stderr was: " .. stderr)
      end)
    end

    it("exits 2 on a usage error and 1 on a file error", function()
      assert.are.equal(2, (run("b64 --line-length abc")))
      assert.are.equal(2, (run("frobnicate")))
      assert.are.equal(1, (run("b64 /nonexistent/dir/file")))
    end)

    it("fails when the output cannot be written", function()
      local status, _, stderr = run("b64", input, "/dev/full")
      assert.are.equal(1, status)
      assert.truthy(stderr:find("^mimefilter: cannot write output"))
    end)

    it("fails when the module cannot be loaded", function()
      local hide = "LUA_CPATH=/nonexistent/?.so LUA_PATH=/nonexistent/?.lua "
      local status, stdout, stderr = run("b64", input, nil, hide)
      assert.are.equal(1, status)
      assert.are.equal("", stdout)
      assert.truthy(stderr:find("^mimefilter: cannot load mime.core"))
    end)
  end)
end)
