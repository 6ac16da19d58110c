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

-- Run from a checkout, find the module built there for this Lua.
dofile((arg[0]:match("^(.*[/\\])") or "./") .. "../tools/module_paths.lua")
local stream = require "mime.stream"

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

-- Encoding: the pump reads a block, pushes it through the Base64 body (b64,
-- then wrp for the lines) and writes what comes out, until the input ends;
-- then it finishes the body (the padding, the last line's CR LF). A writer
-- may be a file or a function that returns true.
local input = assert(io.open(input_path, "rb"))
local output = assert(io.open(output_path, "wb"))
local input_size, output_size = assert(stream.pump(input, function(text)
  note_memory()
  return output:write(text)
end, stream.base64_body(LINE_LENGTH), BLOCK_SIZE))
input:close()
output:close()

-- Checking: decode the output block by block, strictly (any byte that is not
-- Base64 would be an error), and compare each decoded piece with the same
-- stretch of the input.
local encoded_file = assert(io.open(output_path, "rb"))
local original = assert(io.open(input_path, "rb"))
local same = stream.pump(encoded_file, function(decoded)
  note_memory()
  if original:read(#decoded) ~= decoded then return nil, "the decoded output differs" end
  return true
end, stream.decoder("base64", { strict = true }), BLOCK_SIZE)
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
