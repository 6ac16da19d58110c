-- multipart_message.lua: builds a multipart/mixed e-mail message with two
-- parts, a text encoded as quoted-printable and a binary attachment encoded
-- as Base64, and writes it to a file or to standard output.
--
--   lua examples/multipart_message.lua [OUTPUT]
--
-- The bodies are fed to the filters in small pieces, as they would come from
-- a file or a network connection: every piece is encoded and written at once,
-- so nothing but the current piece is held in memory.

local mime = require "mime.core"

local here = arg[0]:match("^(.*[/\\])") or "./"
local sample = dofile(here .. "sample_content.lua")

local CRLF = "\r\n"
-- "=_" never appears in quoted-printable or Base64 text, so no body line can
-- be mistaken for the boundary.
local BOUNDARY = "=_mime_core_example_boundary"
local LINE_LENGTH = 76

local output = io.stdout
if arg[1] then output = assert(io.open(arg[1], "wb")) end

local function write(text)
  assert(output:write(text))
end

-- Calls `use` with the pieces of `data`, `size` bytes at a time.
local function in_pieces(data, size, use)
  for first = 1, #data, size do
    use(data:sub(first, first + size - 1))
  end
end

-- Text body: line ends become CR LF (eol), the text is encoded (qp) and the
-- encoded lines are kept within 76 columns by soft line breaks (qpwrp).
local function write_quoted_printable(text)
  local last_break, carry, room = 0, "", LINE_LENGTH
  local function wrap(encoded)
    local wrapped
    wrapped, room = mime.qpwrp(room, encoded, LINE_LENGTH)
    write(wrapped)
  end

  in_pieces(text, 100, function(piece)
    local normalised, encoded
    normalised, last_break = mime.eol(last_break, piece)
    encoded, carry = mime.qp(carry, normalised)
    wrap(encoded)
  end)

  -- End of the stream, filter by filter. eol holds nothing back. qp encodes
  -- the bytes it was still looking at (a CR, or white space that might have
  -- come before a line end); qpwrp closes an open line with a soft break.
  local encoded = mime.qp(carry, nil)
  if encoded then wrap(encoded) end
  write(mime.qpwrp(room, nil, LINE_LENGTH) or "")
end

-- Attachment body: Base64 (b64) in lines of 76 columns (wrp).
local function write_base64(data)
  local carry, room = "", LINE_LENGTH
  local function wrap(encoded)
    local wrapped
    wrapped, room = mime.wrp(room, encoded, LINE_LENGTH)
    write(wrapped)
  end

  in_pieces(data, 1000, function(piece)
    local encoded
    encoded, carry = mime.b64(carry, piece) -- carry: the 0 to 2 bytes left over
    wrap(encoded)
  end)

  -- End of the stream: b64 pads the last group with "=", wrp ends the line.
  local encoded = mime.b64(carry, nil)
  if encoded then wrap(encoded) end
  write(mime.wrp(room, nil, LINE_LENGTH) or "")
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
write_quoted_printable(sample.text)

boundary_line()
write('Content-Type: application/octet-stream; name="' .. sample.attachment_name .. '"' .. CRLF)
write('Content-Disposition: attachment; filename="' .. sample.attachment_name .. '"' .. CRLF)
write("Content-Transfer-Encoding: base64" .. CRLF)
write(CRLF)
write_base64(sample.attachment)

boundary_line(true)

if output ~= io.stdout then output:close() end
