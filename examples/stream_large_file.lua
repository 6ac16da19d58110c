-- stream_large_file.lua: Base64-encodes a file of any size in fixed blocks,
-- in lines of 76 columns, with memory use that does not grow with the file.
-- Then decodes the result, again block by block, and checks that it gives
-- back the input.
--
--   lua examples/stream_large_file.lua [INPUT [OUTPUT]]
--
-- Without INPUT it makes 8 MiB of test data in a temporary file; without
-- OUTPUT the encoded text goes to a temporary file. Temporary files are
-- removed at the end. Prints the sizes and the most memory Lua held.

local mime = require "mime.core"

local BLOCK_SIZE = 64 * 1024
local LINE_LENGTH = 76
local TEST_DATA_SIZE = 8 * 1024 * 1024

local peak_kib = 0
local function note_memory()
  peak_kib = math.max(peak_kib, collectgarbage("count"))
end

-- Writes `size` bytes of pseudo-random data to a new temporary file.
local function make_test_data(size)
  local path = os.tmpname()
  local file = assert(io.open(path, "wb"))
  local x = 1
  local block = {}
  for written = 1, size do
    x = (x * 75 + 74) % 65537
    block[#block + 1] = string.char(x % 256)
    if #block == 4096 or written == size then
      assert(file:write(table.concat(block)))
      block = {}
    end
  end
  file:close()
  return path
end

local input_path, output_path = arg[1], arg[2]
local remove_input, remove_output = false, false
if not input_path then input_path, remove_input = make_test_data(TEST_DATA_SIZE), true end
if not output_path then output_path, remove_output = os.tmpname(), true end

-- Encoding: b64 turns each block into Base64 and hands back the 0 to 2
-- bytes that did not fill a 3-byte group (carry); wrp breaks the text into
-- lines and hands back the room left on the last line.
local input = assert(io.open(input_path, "rb"))
local output = assert(io.open(output_path, "wb"))
local carry, room = "", LINE_LENGTH
local input_size, output_size = 0, 0

local function write_wrapped(encoded)
  local wrapped
  wrapped, room = mime.wrp(room, encoded, LINE_LENGTH)
  assert(output:write(wrapped))
  output_size = output_size + #wrapped
end

while true do
  local block = input:read(BLOCK_SIZE)
  if not block then break end
  input_size = input_size + #block
  local encoded
  encoded, carry = mime.b64(carry, block)
  write_wrapped(encoded)
  note_memory()
end
-- End of the stream: b64 pads the last group, wrp ends the last line.
local last = mime.b64(carry, nil)
if last then write_wrapped(last) end
local closing = mime.wrp(room, nil, LINE_LENGTH)
if closing then
  assert(output:write(closing))
  output_size = output_size + #closing
end
input:close()
output:close()

-- Checking: decode the output block by block and compare each decoded piece
-- with the same stretch of the input.
local encoded_file = assert(io.open(output_path, "rb"))
local original = assert(io.open(input_path, "rb"))
local same = true
carry = ""
local function compare(decoded)
  if decoded and decoded ~= "" and original:read(#decoded) ~= decoded then same = false end
end
while same do
  local block = encoded_file:read(BLOCK_SIZE)
  if not block then break end
  local decoded
  decoded, carry = mime.unb64(carry, block)
  compare(decoded)
  note_memory()
end
compare((mime.unb64(carry, nil)))
same = same and original:read(1) == nil -- nothing of the input left over
encoded_file:close()
original:close()

if remove_input then os.remove(input_path) end
if remove_output then os.remove(output_path) end

print(string.format("input: %d bytes", input_size))
print(string.format("output: %d bytes in lines of %d columns", output_size, LINE_LENGTH))
print(string.format("peak Lua memory: %d KiB", math.floor(peak_kib + 0.5)))
print(same and "decoded output matches the input" or "decoded output DIFFERS from the input")
os.exit(same and 0 or 1)
