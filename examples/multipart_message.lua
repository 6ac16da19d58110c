-- multipart_message.lua: builds a multipart/mixed e-mail message with two
-- parts, a text encoded as quoted-printable and a binary attachment encoded
-- as Base64, and writes it to a file or to standard output.
--
--   lua examples/multipart_message.lua [OUTPUT]
--
-- The bodies are fed to the filters in small pieces, as they would come from
-- a file or a network connection: every piece is encoded and written at once,
-- so nothing but the current piece is held in memory.

local here = arg[0]:match("^(.*[/\\])") or "./"
dofile(here .. "../tools/module_paths.lua") -- from a checkout, the module built there
local stream = require "mime.stream"
local sample = dofile(here .. "sample_content.lua")

local CRLF = "\r\n"
-- "=_" never appears in quoted-printable or Base64 text, so no body line can
-- be mistaken for the boundary.
local BOUNDARY = "=_mime_core_example_boundary"

local output = io.stdout
if arg[1] then output = assert(io.open(arg[1], "wb")) end

local function write(text)
  assert(output:write(text))
end

-- Pushes `data` through the stream `body` in pieces of `size` bytes, writing
-- what comes out at once, then finishes the body. The stream keeps what
-- the filters carry from one piece to the next and knows how its body ends:
-- a Base64 body with the CR LF of its last line, a quoted-printable text
-- that has no line end of its own with a soft line break.
local function write_body(body, data, size)
  for first = 1, #data, size do
    write(body:push(data:sub(first, first + size - 1)))
  end
  write(body:finish())
end

-- The CR LF before a boundary line belongs to the boundary, not to the body
-- above it, so every boundary line is written with one in front.
local function boundary_line(closing)
  write(CRLF .. "--" .. BOUNDARY .. (closing and "--" or "") .. CRLF)
end

write("From: Sender <sender@example.org>" .. CRLF)
write("To: Zoe <zoe@example.org>" .. CRLF)
write("Subject: Menu and price list" .. CRLF)
write("MIME-Version: 1.0" .. CRLF)
write('Content-Type: multipart/mixed; boundary="' .. BOUNDARY .. '"' .. CRLF)
write(CRLF)
write("This is a message in MIME format.")

boundary_line()
write("Content-Type: text/plain; charset=utf-8" .. CRLF)
write("Content-Transfer-Encoding: quoted-printable" .. CRLF)
write(CRLF)
-- Line ends become CR LF, the text is encoded and kept within 76 columns by
-- soft line breaks.
write_body(stream.qp_body(), sample.text, 100)

boundary_line()
write('Content-Type: application/octet-stream; name="' .. sample.attachment_name .. '"' .. CRLF)
write('Content-Disposition: attachment; filename="' .. sample.attachment_name .. '"' .. CRLF)
write("Content-Transfer-Encoding: base64" .. CRLF)
write(CRLF)
-- Base64 in lines of 76 columns.
write_body(stream.base64_body(), sample.attachment, 1000)

boundary_line(true)

if output ~= io.stdout then output:close() end
