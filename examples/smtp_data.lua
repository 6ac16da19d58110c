-- smtp_data.lua: turns a message into the data that an SMTP client sends
-- after the DATA command: every line end becomes CR LF (eol), every "." that
-- begins a line is doubled (dot), and the data ends with CR LF "." CR LF.
--
--   lua examples/smtp_data.lua [MESSAGE [OUTPUT]]
--
-- Without MESSAGE a short sample message is used; without OUTPUT the data is
-- written to standard output.

local mime = require "mime.core"

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

-- read_block() returns the next block of the message, or nil at its end.
local read_block
if arg[1] then
  local input = assert(io.open(arg[1], "rb"))
  read_block = function() return input:read(BLOCK_SIZE) end
else
  local position = 1
  read_block = function()
    if position > #SAMPLE then return nil end
    local block = SAMPLE:sub(position, position + BLOCK_SIZE - 1)
    position = position + BLOCK_SIZE
    return block
  end
end

local output = io.stdout
if arg[2] then output = assert(io.open(arg[2], "wb")) end

-- last_break: where eol stands in a line end split between two blocks.
-- line_state 2: the data begins at the start of a line, so a "." in its
-- first byte is stuffed as well.
local last_break, line_state = 0, 2
for block in read_block do
  local normalised, stuffed
  normalised, last_break = mime.eol(last_break, block)
  stuffed, line_state = mime.dot(line_state, normalised)
  assert(output:write(stuffed))
end

-- The end of the data is a line holding a single ".". line_state is 2 when
-- the data ended with CR LF (or was empty); otherwise the last line is
-- finished first.
if line_state ~= 2 then assert(output:write("\r\n")) end
assert(output:write(".\r\n"))

if output ~= io.stdout then output:close() end
