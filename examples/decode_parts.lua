-- decode_parts.lua: reads a multipart message such as the one that
-- multipart_message.lua writes, decodes each part and checks that it equals
-- the original content. Exits with status 1 if a part differs.
--
--   lua examples/decode_parts.lua [MESSAGE]      (default: standard input)
--
-- The message is read one line at a time and every line goes straight into
-- the decoder of its part: the decoders carry unfinished input (half an
-- escape, an incomplete Base64 quartet) from one line to the next.

local mime = require "mime.core"

local here = arg[0]:match("^(.*[/\\])") or "./"
local sample = dofile(here .. "sample_content.lua")

local input = io.stdin
if arg[1] then input = assert(io.open(arg[1], "rb")) end
local next_line = input:lines()

-- Reads one line without its line end (CR LF or LF); nil at the end.
local function read_line()
  local line = next_line()
  return line and (line:gsub("\r$", ""))
end

-- Reads header lines up to the empty line that ends them. Returns a table
-- from lower-case field names to values; folded lines are joined.
local function read_headers()
  local headers, last_name = {}, nil
  for line in read_line do
    if line == "" then break end
    if line:match("^[ \t]") and last_name then
      headers[last_name] = headers[last_name] .. " " .. line:match("^%s*(.-)$")
    else
      local name, value = line:match("^([^:]+):%s*(.-)%s*$")
      if name then
        last_name = name:lower()
        headers[last_name] = value
      end
    end
  end
  return headers
end

-- A decoder is a function: called with a chunk it returns what it could
-- decode so far, called with nil (end of the part) it returns the rest.
local decoders = {}

function decoders.base64()
  local carry = ""
  return function(chunk)
    local decoded
    decoded, carry = mime.unb64(carry, chunk)
    return decoded
  end
end

decoders["quoted-printable"] = function()
  local carry, last_break = "", 0
  return function(chunk)
    local decoded
    decoded, carry = mime.unqp(carry, chunk)
    -- Text travels with CR LF line ends; give it back with "\n", the line
    -- end of the original. (eol holds nothing back at the end of a stream.)
    if decoded then decoded, last_break = mime.eol(last_break, decoded, "\n") end
    return decoded
  end
end

-- 7bit and 8bit bodies are plain text already.
local function copy() return function(chunk) return chunk end end
decoders["7bit"], decoders["8bit"] = copy, copy

-- The message headers name the boundary between the parts.
local message_headers = read_headers()
local content_type = message_headers["content-type"] or ""
local boundary = content_type:match('boundary="([^"]+)"')
  or content_type:match("boundary=([^;%s]+)")
if not boundary then
  io.stderr:write("decode_parts: the message is not multipart\n")
  os.exit(1)
end
local delimiter, closing = "--" .. boundary, "--" .. boundary .. "--"

-- Skip the preamble, the text before the first boundary.
for line in read_line do
  if line == delimiter then break end
end

-- Decode the parts. The line break before a boundary line belongs to the
-- boundary, so each body line but the first is given the CR LF that ended
-- the line before it.
local parts, more = {}, true
while more do
  local headers = read_headers()
  local encoding = (headers["content-transfer-encoding"] or "7bit"):lower()
  local decode = assert(decoders[encoding], "unknown encoding " .. encoding)()
  local pieces, line_break = {}, ""
  more = false -- stays false after the closing boundary or at the end of the input
  for line in read_line do
    if line == delimiter then more = true; break end
    if line == closing then break end
    pieces[#pieces + 1] = decode(line_break .. line)
    line_break = "\r\n"
  end
  pieces[#pieces + 1] = decode(nil)
  parts[#parts + 1] = {
    content_type = headers["content-type"] or "text/plain",
    encoding = encoding,
    body = table.concat(pieces),
  }
end

-- Compare with what multipart_message.lua sent, in the same order.
local originals = { sample.text, sample.attachment }
local all_match = (#parts == #originals)
for index, part in ipairs(parts) do
  local matches = (part.body == originals[index])
  all_match = all_match and matches
  print(string.format("part %d: %s, %s, %d bytes: %s", index, part.content_type, part.encoding,
    #part.body, matches and "matches the original" or "DIFFERS from the original"))
end
if #parts ~= #originals then
  print(string.format("expected %d parts, found %d", #originals, #parts))
end
print(all_match and "all parts match" or "some parts do not match")
os.exit(all_match and 0 or 1)
