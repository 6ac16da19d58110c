-- sample_content.lua: the text and the attachment that multipart_message.lua
-- sends and decode_parts.lua expects back. Loaded with dofile() by both.

-- A text with what quoted-printable has to take care of: 8-bit characters
-- (UTF-8), "=" signs, a line longer than 76 columns, white space at the end
-- of a line, and lines that begin with "." or "From ". Its last line has no
-- line end, so the encoded text ends with a soft line break.
local text = table.concat({
  "Hello Zoë,",
  "",
  "the café on the corner now takes orders by e-mail. Prices: 2 × 3 € = 6 €.",
  "This line is deliberately long, so that the encoder has to break it with soft line breaks to keep every line of the message short.",
  "This line ends with two spaces  ",
  "\tand this one begins with a tab.",
  ".a line that begins with a dot",
  "From the kitchen, with greetings.",
}, "\n")

-- A binary attachment: every byte value once, then bytes from a small
-- generator (its products stay exact with Lua 5.1's floating-point numbers,
-- so every Lua version makes the same bytes).
local bytes = {}
for value = 0, 255 do bytes[#bytes + 1] = string.char(value) end
local x = 1
for _ = 1, 3000 do
  x = (x * 75 + 74) % 65537
  bytes[#bytes + 1] = string.char(x % 256)
end

return {
  text = text,
  attachment = table.concat(bytes),
  attachment_name = "sample.bin",
}
