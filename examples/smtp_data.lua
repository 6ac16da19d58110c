-- smtp_data.lua: turns a message into the data that an SMTP client sends
-- after the DATA command: every line end becomes CR LF, every "." that
-- begins a line is doubled, and the data ends with a line holding a single
-- ".": CR LF "." CR LF, or "." CR LF when the message ends with a line end.
--
--   lua examples/smtp_data.lua [MESSAGE [OUTPUT]]
--
-- Without MESSAGE a short sample message is used; without OUTPUT the data is
-- written to standard output.

-- Run from a checkout, find the module built there for this Lua.
dofile((arg[0]:match("^(.*[/\\])") or "./") .. "../tools/module_paths.lua")
local stream = require "mime.stream"

local SAMPLE = table.concat({
  "From: sender@example.org",
  "To: zoe@example.org",
  "Subject: dots",
  "",
  "A line holding a single dot would end the data, so these are stuffed:",
  ".",
  "..and so must this one,",
  "while this one. has its dot in the middle.",
  ".last line, with no line end of its own",
}, "\n")

local BLOCK_SIZE = 4096

-- The pump reads a file handle, or calls a function for the next block
-- (nil at the end).
local input
if arg[1] then
  input = assert(io.open(arg[1], "rb"))
else
  local position = 1
  input = function()
    if position > #SAMPLE then return nil end
    local block = SAMPLE:sub(position, position + BLOCK_SIZE - 1)
    position = position + BLOCK_SIZE
    return block
  end
end

local output = io.stdout
if arg[2] then output = assert(io.open(arg[2], "wb")) end

-- smtp_data() normalises the line ends, stuffs the dots and, when it is
-- finished, writes the closing line. pump moves every block through it and
-- reports a failed read or write.
assert(stream.pump(input, output, stream.smtp_data(), BLOCK_SIZE))

if output ~= io.stdout then output:close() end
