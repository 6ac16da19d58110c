-- The whole job on one message: a letter with letters outside ASCII becomes a
-- quoted-printable part under an encoded Subject, a binary file with a
-- non-ASCII name becomes a Base64 attachment; the message is turned into SMTP
-- data, then read back: unstuffed, its header fields and parts decoded
-- (strictly), and every part compared with the original.
-- usage: lua tools/demo.lua [ATTACHMENT]     (default: 4 MiB of made-up bytes)

local here = arg[0]:match("^(.*[/\\])") or "./"
dofile(here .. "module_paths.lua")
local mime = require "mime.core"
local stream = require "mime.stream"
local header = require "mime.header"

local CHUNK_SIZE = 64 * 1024
local BOUNDARY = "=_demo_boundary" -- "=_" never appears in Base64 or quoted-printable text
local unpack = table.unpack or unpack

local function read_file(path)
  local file = assert(io.open(path, "rb"))
  local data = file:read("*a")
  file:close()
  return data
end

-- Pushes data through a stream in 64 KiB chunks; the output, or nil and the
-- message of a strict decoder.
local function run(s, data)
  local out = {}
  for i = 1, #data, CHUNK_SIZE do
    local piece, problem = s:push(data:sub(i, i + CHUNK_SIZE - 1))
    if not piece then return nil, problem end
    out[#out + 1] = piece
  end
  local last, problem = s:finish()
  if not last then return nil, problem end
  out[#out + 1] = last
  return table.concat(out)
end

local function count(text, pattern)
  return select(2, text:gsub(pattern, ""))
end

local function longest_line(text)
  local longest = 0
  for line in text:gmatch("([^\r\n]*)\r\n") do longest = math.max(longest, #line) end
  return longest
end

-- Seconds of processor time to stream data through a new stream, the best
-- of three runs. The output is dropped piece by piece, as a program writing
-- to a file or the network drops it, so that what is timed is the filters, not
-- the fresh memory that a message kept whole would take.
local function stream_time(make_stream, data)
  local best = math.huge
  for _ = 1, 3 do
    local s, start = make_stream(), os.clock()
    for i = 1, #data, CHUNK_SIZE do s:push(data:sub(i, i + CHUNK_SIZE - 1)) end
    s:finish()
    best = math.min(best, os.clock() - start)
  end
  return best
end

local function rate(bytes, seconds)
  if seconds <= 0 then return "too fast to time" end
  return ("%.0f MB/s"):format(bytes / seconds / 1e6)
end

local failures = 0
local function check(same, what)
  print(("  %s: %s"):format(what, same and "equals the original" or "DIFFERS from the original"))
  if not same then failures = failures + 1 end
end

---------------------------------------------------------------------------
-- The content
---------------------------------------------------------------------------

local letter = read_file(here .. "sample/letter.txt")
local subject = "Rechnung für die Café-Renovierung – März"
local sender_name = "João Conceição"
local attachment, attachment_name
if arg[1] then
  attachment, attachment_name = read_file(arg[1]), arg[1]:match("[^/\\]*$")
else
  -- Every byte value, then bytes from a small generator (exact with Lua 5.1's
  -- numbers), 4 MiB in all.
  local block, x = {}, 1
  for value = 0, 255 do block[#block + 1] = value end
  for i = 257, 4096 do
    x = (x * 75 + 74) % 65537
    block[i] = x % 256
  end
  local blocks = {}
  for i = 1, 1024 do
    blocks[i] = string.char(unpack(block))
    block[1 + i % 4096] = (block[1 + i % 4096] + i) % 256
  end
  attachment, attachment_name = table.concat(blocks), "Übersicht März–April.bin"
end

print(("%s on %s, chunks of %d KiB"):format(mime._VERSION, rawget(_G, "jit") and jit.version
  or _VERSION, CHUNK_SIZE / 1024))

---------------------------------------------------------------------------
-- Building the message
---------------------------------------------------------------------------

print("\nBuilding the message")
local encoded_subject = header.encode(subject, { name = "Subject" })
local from = header.encode(sender_name) .. " <joao@example.org>"
local filename = header.encode_param("filename", attachment_name)
print(("  Subject: %s\n    -> %s  (mime.header.encode)"):format(subject,
  (encoded_subject:gsub("\r\n", "\n      "))))
print(("  From: %s\n    -> %s"):format(sender_name, from))
print(("  file name: %s\n    -> %s  (mime.header.encode_param)"):format(attachment_name,
  filename))

local text_body = run(stream.qp_body(), letter)
print(("  text: %d bytes, %d lines -> quoted-printable %d bytes (qp_body):"):format(#letter,
  count(letter, "\n"), #text_body))
print(("    eol made every line end CR LF, qp wrote %d escapes (=XX), qpwrp %d soft line"
  .. " breaks;"):format(count(text_body, "=%x%x"), count(text_body, "=\r\n")))
print(("    longest line %d columns"):format(longest_line(text_body)))

local binary_body = run(stream.base64_body(), attachment)
print(("  attachment: %d bytes -> Base64 %d bytes in %d lines (base64_body: b64, wrp)")
  :format(#attachment, #binary_body, count(binary_body, "\r\n")))

local message = table.concat({
  "From: " .. from,
  "To: Ana <ana@example.org>",
  "Subject: " .. encoded_subject,
  "MIME-Version: 1.0",
  'Content-Type: multipart/mixed; boundary="' .. BOUNDARY .. '"',
  "",
  "--" .. BOUNDARY,
  "Content-Type: text/plain; charset=utf-8",
  "Content-Transfer-Encoding: quoted-printable",
  "",
  text_body .. "\r\n--" .. BOUNDARY, -- the CR LF before "--" belongs to the boundary
  "Content-Type: application/octet-stream",
  "Content-Transfer-Encoding: base64",
  "Content-Disposition: attachment;\r\n " .. filename,
  "",
  binary_body .. "\r\n--" .. BOUNDARY .. "--",
  "",
}, "\r\n")
print(("  message: %d bytes, %d lines, longest %d columns"):format(#message,
  count(message, "\r\n"), longest_line(message)))

---------------------------------------------------------------------------
-- SMTP data
---------------------------------------------------------------------------

local data = run(stream.smtp_data(), message)
print("\nSMTP data (smtp_data: eol, dot)")
print(("  %d bytes: %d line(s) starting with \".\" stuffed, then the closing \".\" line")
  :format(#data, count("\n" .. message, "\n%.")))

---------------------------------------------------------------------------
-- Reading it back
---------------------------------------------------------------------------

print("\nReading it back")
local ending = data:sub(-5) == "\r\n.\r\n"
local received = ("\r\n" .. data:sub(1, -4)):gsub("\r\n%.", "\r\n"):sub(3)
check(ending and received == message, "the SMTP data, unstuffed")

-- Header fields: name -> body, folded lines kept (the decoders unfold).
local function split_header(text)
  local head, body = text:match("^(.-\r\n)\r\n(.*)$")
  local fields, last = {}, nil
  for line in head:gmatch("(.-)\r\n") do
    if line:find("^[ \t]") and last then
      fields[last] = fields[last] .. "\r\n" .. line
    else
      local name, value = line:match("^([%w-]+):[ \t]*(.*)$")
      last = name and name:lower()
      if last then fields[last] = value end
    end
  end
  return fields, body
end

local fields, body = split_header(received)
local decoded_subject, charsets = header.decode(fields.subject)
check(decoded_subject == subject, ("Subject (header.decode, charset %s)"):format(
  table.concat(charsets, ", ")))
check(header.decode(fields.from) == sender_name .. " <joao@example.org>", "From (header.decode)")

local _, type_parameters = header.decode_params(fields["content-type"])
local delimiter = "\r\n--" .. type_parameters.boundary
local parts = {}
local start = select(2, ("\r\n" .. body):find(delimiter, 1, true)) - 1
while true do
  local next_start, next_end = body:find(delimiter, start, true)
  if not next_start then break end
  parts[#parts + 1] = body:sub(start, next_start - 1):gsub("^\r\n", "", 1)
  start = next_end + 1
end

local originals = { letter, attachment }
for number, part in ipairs(parts) do
  local part_fields, content = split_header(part)
  local encoding = part_fields["content-transfer-encoding"]
  local decoded, problem = run(stream.decoder(encoding, { strict = true }), content)
  local what = ("part %d, %s, strict decoder, %s"):format(number, encoding,
    decoded and #decoded .. " bytes" or problem)
  if decoded and number == 1 then
    decoded = run(stream.chain({ { "eol", "\n" } }), decoded) -- CR LF back to the letter's LF
    what = what .. ", eol to LF"
  end
  if number == 2 then
    local _, disposition = header.decode_params(part_fields["content-disposition"])
    check(disposition.filename == attachment_name, ("file name %s (decode_params)"):format(
      disposition.filename))
  end
  check(decoded == originals[number], what)
end
if #parts ~= 2 then
  print(("  %d parts found, 2 expected"):format(#parts))
  failures = failures + 1
end

---------------------------------------------------------------------------
-- Speed
---------------------------------------------------------------------------

local long_text = letter:rep(math.ceil(2 ^ 20 / #letter))
local long_body = run(stream.qp_body(), long_text)
local function strict(name)
  return function() return stream.decoder(name, { strict = true }) end
end
local function lenient(name)
  return function() return stream.decoder(name) end
end
print(("\nSpeed (MB/s: 10^6 input bytes per second of processor time, best of 3 runs,"
  .. " output dropped\nas it comes; the letter repeated to %d bytes for quoted-printable)")
  :format(#long_text))
for _, case in ipairs({
  { "base64_body, the attachment", stream.base64_body, attachment },
  { "Base64 decoder, lenient", lenient("base64"), binary_body },
  { "Base64 decoder, strict", strict("base64"), binary_body },
  { "qp_body, the letter", stream.qp_body, long_text },
  { "quoted-printable decoder, lenient", lenient("quoted-printable"), long_body },
  { "quoted-printable decoder, strict", strict("quoted-printable"), long_body },
  { "smtp_data, the message", stream.smtp_data, message },
}) do
  print(("  %-36s %s"):format(case[1], rate(#case[3], stream_time(case[2], case[3]))))
end

if failures > 0 then
  print(("\n%d check(s) failed"):format(failures))
  os.exit(1)
end
print("\nEvery part read back equals what was sent.")
