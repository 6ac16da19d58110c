-- The main job, shown on one file: encode it to Base64 in 76-column lines, as a
-- mail attachment is, one chunk at a time; then decode the text back and compare.
-- usage: lua demo.lua [file]
local mime = require "mime.core"

local path = arg[1] or "tools/sample/letter.txt"
local chunk_size = 1024

local file = assert(io.open(path, "rb"))
local original = file:read("*a")
file:close()

-- Encode: b64 carries 0 to 2 bytes between chunks, wrp carries the room left on
-- the line; a nil chunk ends each stream.
local encoded, carry, room = {}, "", 76
for i = 1, #original, chunk_size do
  local text
  text, carry = mime.b64(carry, original:sub(i, i + chunk_size - 1))
  encoded[#encoded + 1], room = mime.wrp(room, text, 76)
end
local last = mime.b64(carry, nil)
if last then encoded[#encoded + 1], room = mime.wrp(room, last, 76) end
encoded[#encoded + 1] = mime.wrp(room, nil, 76) or ""
encoded = table.concat(encoded)

-- Decode: unb64 skips the line breaks by itself.
local decoded, remainder = {}, ""
for i = 1, #encoded, chunk_size do
  decoded[#decoded + 1], remainder = mime.unb64(remainder, encoded:sub(i, i + chunk_size - 1))
end
decoded[#decoded + 1] = mime.unb64(remainder, nil) or ""
decoded = table.concat(decoded)

local lines = 0
for _ in encoded:gmatch("\r\n") do lines = lines + 1 end
print(string.format("%s (%s): %d bytes read in chunks of %d", path, mime._VERSION, #original, chunk_size))
print(string.format("Base64: %d bytes in %d lines of at most 76 characters; first lines:", #encoded, lines))
local shown = 0
for line in encoded:gmatch("([^\r\n]*)\r\n") do
  print("  " .. line)
  shown = shown + 1
  if shown == 3 then break end
end
if decoded == original then
  print(string.format("decoded back: %d bytes, identical to the original", #decoded))
else
  print(string.format("decoded back: %d bytes, DIFFERENT from the original", #decoded))
  os.exit(1)
end
