-- Tests of the scripts in examples/. Each script is run as a newcomer would
-- run it, and its output is checked against the module called once on the
-- whole input.
--
-- Run from the repository root. MIME_LUA names the interpreter that runs the
-- scripts (default lua5.1); the module is found through LUA_CPATH and
-- LUA_PATH, to which MIME_BUILD_DIR is added when it is set.

local mime = require "mime.core"

local LUA = os.getenv("MIME_LUA") or "lua5.1"

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local quote, read_file = support.shell_quote, support.read_file
local temp_file, assert_same = support.temp_file, support.assert_same

-- Runs an example script with arguments (already quoted for the shell).
-- Returns the exit status, standard output and standard error.
local function example(script_and_arguments, input_path)
  return support.run_shell(string.format("%s %s examples/%s < %s", support.child_environment(),
    quote(LUA), script_and_arguments, quote(input_path or "/dev/null")))
end

-- The module called once on a whole input.
local function whole_b64(data, line_length) return support.whole_b64(mime, data, line_length) end
local function whole_qp(data, line_length) return support.whole_qp(mime, data, line_length) end

local function whole_smtp_data(data)
  local body = mime.dot(2, (mime.eol(0, data)))
  if body ~= "" and body:sub(-2) ~= "\r\n" then body = body .. "\r\n" end
  return body .. ".\r\n"
end

local random = support.random(7)

local sample = dofile("examples/sample_content.lua")

describe("examples #shell", function()
  teardown(support.remove_temp_files)

  describe("multipart_message.lua", function()
    local message_path = temp_file()
    local message

    it("writes the same message to a file as to standard output", function()
      local status, stdout, stderr = example("multipart_message.lua " .. quote(message_path))
      assert.are.equal("", stderr)
      assert.are.equal(0, status)
      assert.are.equal("", stdout)
      message = read_file(message_path)
      local piped_status, piped = example("multipart_message.lua")
      assert.are.equal(0, piped_status)
      assert_same(message, piped)
    end)

    it("ends every line with CR LF and keeps it within 76 columns", function()
      assert.are.equal("\r\n", message:sub(-2))
      for line in message:gmatch("(.-)\r\n") do
        assert.is_nil(line:find("[\r\n]"), "bare CR or LF in: " .. line)
        assert.is_true(#line <= 76, "line of " .. #line .. ": " .. line)
      end
    end)

    it("holds a text part and an attachment that decode to the originals", function()
      assert.truthy(message:find("\r\nMIME%-Version: 1%.0\r\n"))
      local boundary = message:match('\r\nContent%-Type: multipart/mixed; boundary="([^"]+)"\r\n')
      assert.truthy(boundary)
      local delimiter = "\r\n--" .. boundary
      local first = assert(message:find(delimiter .. "\r\n", 1, true))
      local parts, position = {}, first + #delimiter + 2
      while true do
        local next_start, next_end = message:find(delimiter, position, true)
        assert.truthy(next_start, "missing closing boundary")
        local part = message:sub(position, next_start - 1)
        local headers, body = part:match("^(.-\r\n)\r\n(.*)$")
        parts[#parts + 1] = { headers = headers, body = body }
        if message:sub(next_end + 1, next_end + 2) == "--" then
          assert.are.equal("--\r\n", message:sub(next_end + 1))
          break
        end
        position = next_end + 3
      end
      assert.are.equal(2, #parts)

      local text, attachment = parts[1], parts[2]
      assert.truthy(text.headers:find("Content%-Type: text/plain; charset=utf%-8\r\n"))
      assert.truthy(text.headers:find("Content%-Transfer%-Encoding: quoted%-printable\r\n"))
      assert_same(whole_qp(sample.text, 76), text.body, "text part")
      assert_same(sample.text, (mime.eol(0, mime.unqp(text.body, nil), "\n")))

      assert.truthy(attachment.headers:find("Content%-Transfer%-Encoding: base64\r\n"))
      assert.truthy(attachment.headers:find('filename="' .. sample.attachment_name .. '"', 1, true))
      -- The closing CR LF of the last Base64 line stands before the boundary's own.
      assert_same(whole_b64(sample.attachment, 76), attachment.body, "attachment")
      assert_same(sample.attachment, mime.unb64(attachment.body, nil))
    end)
  end)

  describe("decode_parts.lua", function()
    local message_path = temp_file()
    local message
    local EXPECTED = table.concat({
      "part 1: text/plain; charset=utf-8, quoted-printable, " .. #sample.text
        .. " bytes: matches the original",
      'part 2: application/octet-stream; name="sample.bin", base64, ' .. #sample.attachment
        .. " bytes: matches the original",
      "all parts match",
      "",
    }, "\n")

    setup(function()
      assert.are.equal(0, (example("multipart_message.lua " .. quote(message_path))))
      message = read_file(message_path)
    end)

    it("decodes a message file back to the originals", function()
      local status, stdout, stderr = example("decode_parts.lua " .. quote(message_path))
      assert.are.equal("", stderr)
      assert.are.equal(0, status)
      assert.are.equal(EXPECTED, stdout)
    end)

    it("reads the message from standard input", function()
      local status, stdout = example("decode_parts.lua", message_path)
      assert.are.equal(0, status)
      assert.are.equal(EXPECTED, stdout)
    end)

    it("decodes a message whose line ends have lost their CR", function()
      local status, stdout = example("decode_parts.lua", temp_file((message:gsub("\r\n", "\n"))))
      assert.are.equal(0, status)
      assert.are.equal(EXPECTED, stdout)
    end)

    local damages = {
      { "a changed escape in the text", "Zo=C3=AB", "Zo=C3=AC", "part 1: .*DIFFERS" },
      { "a lost soft line break", "=\r\n", "\r\n", "part 1: .*DIFFERS" },
      { "a changed Base64 character", "\r\nAAECAwQF", "\r\nAAECAwQG", "part 2: .*DIFFERS" },
      { "a lost Base64 line", "\r\nOTo7PD0%+", "\r\nXXX",
        "part 2: .*: invalid base64 at byte %d+: '=' in the first or second place" },
      { "a broken escape", "=C3=AB", "=C3=A",
        "part 1: .*: invalid quoted%-printable at byte 12: malformed escape '=A,'" },
      { "a missing attachment", "\r\n%-%-=_mime_core_example_boundary\r\nContent%-Type: application.*$",
        "\r\n--=_mime_core_example_boundary--\r\n", "expected 2 parts, found 1" },
      { "a cut-off end", "\r\n[^\r\n]*\r\n[^\r\n]*\r\n[^\r\n]*\r\n$", "\r\n", "part 2: .*DIFFERS" },
    }
    for _, damage in ipairs(damages) do
      local what, pattern, replacement, report = damage[1], damage[2], damage[3], damage[4]
      it("fails on a message with " .. what, function()
        local damaged, count = message:gsub(pattern, replacement, 1)
        assert.are.equal(1, count, "the damage was not applied")
        local status, stdout = example("decode_parts.lua " .. quote(temp_file(damaged)))
        assert.are.equal(1, status)
        assert.truthy(stdout:find(report), stdout)
        assert.truthy(stdout:find("some parts do not match", 1, true))
      end)
    end
  end)

  describe("smtp_data.lua", function()
    it("stuffs the sample message and ends it with CR LF . CR LF", function()
      local status, stdout, stderr = example("smtp_data.lua")
      assert.are.equal("", stderr)
      assert.are.equal(0, status)
      assert.are.equal("\r\n.\r\n", stdout:sub(-5))
      local body = stdout:sub(1, -4)
      local lines = {}
      for line in body:gmatch("(.-)\r\n") do
        assert.is_nil(line:find("[\r\n]"), "bare CR or LF in: " .. line)
        assert.are_not.equal(".", line)
        lines[#lines + 1] = line
      end
      assert.are.equal(#body, #table.concat(lines) + 2 * #lines)
      assert.are.equal("..", lines[6])
      assert.are.equal("...and so must this one,", lines[7])
      assert.are.equal("..last line, with no line end of its own", lines[#lines])
    end)

    -- Line ends of every kind and dots at line starts.
    local function message_of(size)
      local pieces = { "\n", "\r\n", "\r", "\n.", "\r\n.", ".", "..", "x" }
      local bytes = {}
      for index = 1, size do
        bytes[index] = random.int(1, 3) == 1 and random.pick(pieces) or "a"
      end
      return table.concat(bytes)
    end

    for _, size in ipairs({ 0, 1, 2, 3, 100, 4095, 4096, 4097, 20000 }) do
      it("prepares a message of about " .. size .. " bytes given as a file", function()
        local data = message_of(size)
        for _, ending in ipairs({ "", "\n", "\r\n", "\r" }) do
          local input = temp_file(data .. ending)
          local status, stdout, stderr = example("smtp_data.lua " .. quote(input))
          assert.are.equal("", stderr)
          assert.are.equal(0, status)
          assert_same(whole_smtp_data(data .. ending), stdout)
        end
      end)
    end

    it("carries line ends and dots across its 4096-byte block edge", function()
      for shift = -3, 1 do
        for _, line_end in ipairs({ "\r\n", "\n\r", "\r", "\n" }) do
          local data = string.rep("a", 4094 + shift) .. line_end .. ".." .. line_end .. "." .. line_end .. "z"
          local status, stdout = example("smtp_data.lua " .. quote(temp_file(data)))
          assert.are.equal(0, status)
          assert_same(whole_smtp_data(data), stdout)
        end
      end
    end)

    it("writes to the output file when one is named", function()
      local data = message_of(5000)
      local input, output = temp_file(data), temp_file()
      local status, stdout = example("smtp_data.lua " .. quote(input) .. " " .. quote(output))
      assert.are.equal(0, status)
      assert.are.equal("", stdout)
      assert_same(whole_smtp_data(data), read_file(output))
    end)
  end)

  describe("stream_large_file.lua", function()
    for _, size in ipairs({ 0, 1, 2, 3, 65535, 65536, 65537, 300001 }) do
      it("encodes a file of " .. size .. " bytes as the module does in one call", function()
        local data = random.bytes(size)
        local input, output = temp_file(data), temp_file()
        local status, stdout, stderr = example("stream_large_file.lua " .. quote(input) .. " "
          .. quote(output))
        assert.are.equal("", stderr)
        assert.are.equal(0, status)
        local expected = whole_b64(data, 76)
        assert_same(expected, read_file(output))
        assert.truthy(stdout:find("input: " .. size .. " bytes\n", 1, true))
        assert.truthy(stdout:find("output: " .. #expected .. " bytes", 1, true))
        assert.truthy(stdout:find("decoded output matches the input\n", 1, true))
      end)
    end

    describe("with its own 8 MiB of data #slow", function()
      it("makes them and streams them in little memory", function()
        local status, stdout, stderr = example("stream_large_file.lua")
        assert.are.equal("", stderr)
        assert.are.equal(0, status)
        assert.truthy(stdout:find("input: 8388608 bytes\n", 1, true))
        -- 2796203 groups of four characters, in lines of 76 with CR LF.
        assert.truthy(stdout:find("output: 11479150 bytes in lines of 76 columns\n", 1, true))
        assert.truthy(stdout:find("decoded output matches the input\n", 1, true))
        local peak = tonumber(stdout:match("peak Lua memory: (%d+) KiB"))
        assert.truthy(peak)
        -- Holding the input or the output whole would take 8 MiB or more.
        assert.is_true(peak < 4096, "peak memory " .. peak .. " KiB")
      end)
    end)
  end)

  describe("the demo (tools/demo.lua)", function()
    it("reads back every part it sent, for any attachment", function()
      local status, stdout, stderr = support.run_shell(("%s %s tools/demo.lua %s"):format(
        support.child_environment(), quote(LUA), quote(temp_file(random.bytes(5000)))))
      assert.are.equal("", stderr)
      assert.are.equal(0, status, stdout)
      assert.is_nil(stdout:find("DIFFERS", 1, true), stdout)
      assert.truthy(stdout:find("\nEvery part read back equals what was sent.\n$"), stdout)
    end)
  end)
end)
