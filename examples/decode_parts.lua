-- decode_parts.lua: reads a multipart message such as the one that
-- multipart_message.lua writes, decodes each part and checks that it equals
-- the original content. Exits with status 1 if a part differs.
--
--   lua examples/decode_parts.lua [MESSAGE]      (default: standard input)
--
-- The message is read one line at a time and every line goes straight into
-- the decoder of its part, which carries unfinished input (half an escape,
-- an incomplete Base64 group) from one line to the next. The decoders are
-- strict: a part that is not valid Base64 or quoted-printable is reported
-- with the offset of its first bad byte.

local here = arg[0]:match("^(.*[/\\])") or "./"
dofile(here .. "../tools/module_paths.lua") -- from a checkout, the module built there
local stream = require "mime.stream"
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

-- The decoder of a part, as a stream object. Text travels with CR LF line
-- ends; it is given back with "\n", the line end of the original.
local function decoder(encoding)
  local decode = stream.decoder(encoding, { strict = true })
  if encoding ~= "quoted-printable" then return decode end
  local unix = stream.chain({ { "eol", "\n" } })
  return {
    push = function(_, chunk)
      local text, problem = decode:push(chunk)
      if not text then return nil, problem end
      return unix:push(text)
    end,
    finish = function()
      local text, problem = decode:finish()
      if not text then return nil, problem end
      return unix:push(text) .. unix:finish()
    end,
  }
end

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
  local decode = decoder(encoding)
  local pieces, line_break, problem = {}, "", nil
  more = false -- stays false after the closing boundary or at the end of the input
  for line in read_line do
    if line == delimiter then more = true; break end
    if line == closing then break end
    if not problem then
      pieces[#pieces + 1], problem = decode:push(line_break .. line)
    end
    line_break = "\r\n"
  end
  if not problem then pieces[#pieces + 1], problem = decode:finish() end
  parts[#parts + 1] = {
    content_type = headers["content-type"] or "text/plain",
    encoding = encoding,
    body = table.concat(pieces),
    problem = problem,
  }
end

-- Compare with what multipart_message.lua sent, in the same order.
local originals = { sample.text, sample.attachment }
local all_match = (#parts == #originals)
for index, part in ipairs(parts) do
  local matches = not part.problem and part.body == originals[index]
  all_match = all_match and matches
  if part.problem then
    print(string.format("part %d: %s, %s: %s", index, part.content_type, part.encoding,
      part.problem))
  else
    print(string.format("part %d: %s, %s, %d bytes: %s", index, part.content_type, part.encoding,
      #part.body, matches and "matches the original" or "DIFFERS from the original"))
  end
end
if #parts ~= #originals then
  print(string.format("expected %d parts, found %d", #originals, #parts))
end
print(all_match and "all parts match" or "some parts do not match")
os.exit(all_match and 0 or 1)
