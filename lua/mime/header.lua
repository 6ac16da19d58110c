-- mime.header: non-ASCII text in header fields. Encoded words (RFC 2047) for
-- unstructured text and phrases (a Subject, a display name), and parameter
-- values (RFC 2231) for Content-Type and Content-Disposition.
--
--   header.encode(value [, options])      field body with encoded words, folded
--   header.decode(text)                   decoded bytes, list of charsets met
--   header.encode_param(name, value)      one parameter, folded into sections
--   header.decode_params(field_body)      value before the first ";", parameters
--
-- Values are bytes: encode takes UTF-8 text (or any bytes, labelled with the
-- charset given) and the decoders return the bytes an encoded word holds,
-- without converting between charsets. Bytes that are not UTF-8 are encoded
-- as they are: a lead byte stays with the continuation bytes after it, any
-- other byte is a character of its own; it is never an error.

local core = require "mime.core"

local b64, unb64 = core.b64, core.unb64
local byte, char, find, format, gsub, match, sub =
  string.byte, string.char, string.find, string.format, string.gsub, string.match, string.sub
local concat, floor, min = table.concat, math.floor, math.min

local header = {}

-- The longest encoded word RFC 2047 allows, and the line a parameter section
-- must fit when it stands after ";" CR LF and a space.
local WORD_LIMIT = 75
local LINE_LIMIT = 76

---------------------------------------------------------------------------
-- Tables
---------------------------------------------------------------------------

-- Two hexadecimal digits, in any case, to the byte they name.
local HEX_BYTE = {}
for value = 0, 255 do
  local upper = format("%02X", value)
  local high, low = sub(upper, 1, 1), sub(upper, 2, 2)
  for _, digits in ipairs({ upper, high .. low:lower(), high:lower() .. low, upper:lower() }) do
    HEX_BYTE[digits] = char(value)
  end
end

-- The Q encoding may keep only these in a phrase (RFC 2047 section 5 (3));
-- space becomes "_". Parameter values keep the attribute characters of
-- RFC 2231 that no reader mistakes for anything else.
local Q_UNSAFE = "[^0-9A-Za-z!*+/%-]"
local PERCENT_UNSAFE = "[^0-9A-Za-z!#$&+%-.^_`|~]"
local Q_ESCAPE, PERCENT_ESCAPE = {}, {}
for value = 0, 255 do
  Q_ESCAPE[char(value)] = format("=%02X", value)
  PERCENT_ESCAPE[char(value)] = format("%%%02X", value)
end
Q_ESCAPE[" "] = "_"

-- Bytes a UTF-8 sequence has, by its lead byte (0: not a lead byte).
local function sequence_length(lead)
  if lead >= 0xC2 and lead <= 0xDF then return 2 end
  if lead >= 0xE0 and lead <= 0xEF then return 3 end
  if lead >= 0xF0 and lead <= 0xF4 then return 4 end
  return 0
end

local function is_continuation(value)
  return value ~= nil and value >= 0x80 and value <= 0xBF
end

---------------------------------------------------------------------------
-- Arguments
---------------------------------------------------------------------------

-- Raised from a checking helper of a public function, so that the message
-- points at the caller of that function.
local function argument_error(position, call, message)
  error(format("bad argument #%d to '%s' (%s)", position, call, message), 4)
end

local function string_expected(value)
  return "string expected, got " .. (value == nil and "no value" or type(value))
end

local function check_string(value, position, call)
  if type(value) ~= "string" then argument_error(position, call, string_expected(value)) end
end

-- A field name, a charset and a parameter name are tokens of different
-- alphabets; each must be one to be written as it is.
local FIELD_NAME = "^[!-9;-~]+$"
local CHARSET = "^[!#-'*+%-0-9A-Z^-~]+$"
local ATTRIBUTE = "^[!#$&+%-.0-9A-Z^-~]+$"

local function check_attribute(name)
  if type(name) ~= "string" then
    argument_error(1, "encode_param", string_expected(name))
  elseif not find(name, ATTRIBUTE) then
    argument_error(1, "encode_param",
      "parameter name must be a token without '*', \"'\" or '%', got " .. format("%q", name))
  end
end

local function read_options(options)
  if options == nil then options = {} end
  if type(options) ~= "table" then
    argument_error(2, "encode", "table expected, got " .. type(options))
  end
  local encoding = options.encoding
  if encoding ~= nil then
    encoding = type(encoding) == "string" and encoding:upper() or encoding
    if encoding ~= "B" and encoding ~= "Q" then
      argument_error(2, "encode",
        'options.encoding must be "B" or "Q", got ' .. tostring(options.encoding))
    end
  end
  local charset = options.charset
  if charset == nil then charset = "UTF-8" end
  if type(charset) ~= "string" or not find(charset, CHARSET) then
    argument_error(2, "encode", "options.charset must be a charset name, got " .. tostring(charset))
  end
  local line_length = options.line_length
  if line_length == nil then line_length = 76 end
  if type(line_length) ~= "number" or not (line_length >= 1)
      or line_length ~= floor(line_length) then
    argument_error(2, "encode", "options.line_length must be a whole number of at least 1, got "
      .. tostring(line_length))
  end
  local name = options.name
  if name ~= nil and (type(name) ~= "string" or not find(name, FIELD_NAME)) then
    argument_error(2, "encode", "options.name must be a field name, got " .. tostring(name))
  end
  return encoding, charset, line_length, name and #name + 2 or 0
end

---------------------------------------------------------------------------
-- Cutting encoded text into words and sections
---------------------------------------------------------------------------

-- Where to end a piece of text that starts at `first` and would end at
-- `last`, so that no UTF-8 sequence is split: before the lead byte of a
-- sequence that runs on past `last`. Bytes that form no sequence are units
-- of their own. Less than `first` when not even one unit fits.
local function unit_boundary(text, first, last)
  if not is_continuation(byte(text, last + 1)) then return last end
  local lead = last
  while lead >= first and lead > last - 3 and is_continuation(byte(text, lead)) do
    lead = lead - 1
  end
  if lead >= first and lead + sequence_length(byte(text, lead)) - 1 > last then
    return lead - 1
  end
  return last
end

-- The end of the unit (a UTF-8 sequence, or one byte) that starts at `first`.
local function unit_end(text, first)
  local last, length = first, sequence_length(byte(text, first))
  while last < first + length - 1 and is_continuation(byte(text, last + 1)) do
    last = last + 1
  end
  return last
end

-- Text escaped byte by byte (Q or percent form) is cut where it is encoded:
-- `encoded` holds the whole text escaped, `position` and `cursor` are where the
-- piece starts in each, `room` the characters it may take. Returns the last
-- byte and the last encoded character of the piece, or nil when not even one
-- unit fits. An escape is the mark and two digits; everything else is one
-- character for one byte.
local function cut_escaped(text, encoded, position, cursor, room, mark, mark_pattern)
  if room < 1 then return nil end
  local stop = cursor + room - 1
  if stop >= #encoded then return #text, #encoded end
  if byte(encoded, stop) == mark then
    stop = stop - 1
  elseif byte(encoded, stop - 1) == mark then
    stop = stop - 2
  end
  if stop < cursor then return nil end
  local _, escapes = gsub(sub(encoded, cursor, stop), mark_pattern, "")
  local last = position + (stop - cursor + 1) - 2 * escapes - 1
  local boundary = unit_boundary(text, position, last)
  if boundary < position then return nil end
  -- The bytes given back are all 8-bit, so each took an escape.
  return boundary, stop - 3 * (last - boundary)
end

---------------------------------------------------------------------------
-- Encoded words
---------------------------------------------------------------------------

-- The payload of the next encoded word of `text` from `position` on, in at
-- most `room` characters: Base64 when `q_form` is nil, else the part of
-- `q_form` (the text in Q form) from `cursor` on. Returns the payload and
-- where the word ends in the text and in `q_form` (`cursor` for Base64), or
-- nil when not even one character fits; with `force`, the next character
-- whatever its width.
local function next_payload(text, position, q_form, cursor, room, force)
  local last, stop
  if not q_form then
    if force then
      last = unit_end(text, position)
    else
      local bytes = 3 * floor(room / 4)
      if bytes < 1 then return nil end
      last = unit_boundary(text, position, min(position + bytes - 1, #text))
      if last < position then return nil end
    end
    return b64(sub(text, position, last), nil), last, cursor
  end
  if force then
    last = unit_end(text, position)
    stop = cursor + #gsub(sub(text, position, last), Q_UNSAFE, Q_ESCAPE) - 1
  else
    last, stop = cut_escaped(text, q_form, position, cursor, room, 61, "=")
    if not last then return nil end
  end
  return sub(q_form, cursor, stop), last, stop
end

-- The value as items, one space apart: stretches of ASCII words that stay as
-- they are, and runs of text to encode. A word is encoded when it holds a byte
-- that is not printable ASCII, or "=?" (which a reader could take for the
-- start of an encoded word). Every space but the one that separates a run
-- from an ASCII word goes inside the run, so that no reader can lose it:
-- white space next to an encoded word at a fold, or at the start of a field
-- body, is not kept by all of them.
local function each_item(value, on_ascii, on_run)
  if not find(value, "[^ -~]") and not find(value, "=?", 1, true) and byte(value) ~= 32 then
    if value ~= "" then on_ascii(value) end
    return
  end
  local words, gaps, coded = {}, {}, {}
  for gap, word in value:gmatch("( *)([^ ]+)") do
    local n = #words + 1
    words[n], gaps[n] = word, gap
    coded[n] = find(word, "[^!-~]") ~= nil or find(word, "=?", 1, true) ~= nil
  end
  local count = #words
  if count == 0 then return on_run(value) end
  gaps[count + 1] = match(value, " *$")
  if gaps[1] ~= "" then coded[1] = true end
  -- A reader that puts back the space of a fold between an encoded word and
  -- plain text leaves it out next to "(", ")" and "\\": such a neighbour of a
  -- run joins it.
  for i = 2, count do
    if coded[i - 1] and not coded[i] and find(words[i], "^[()\\]") then coded[i] = true end
  end
  for i = count - 1, 1, -1 do
    if coded[i + 1] and not coded[i] and find(words[i], "[()\\]$") then coded[i] = true end
  end

  local i = 1
  while i <= count do
    local j = i
    while j < count and coded[j + 1] == coded[i] do j = j + 1 end
    local parts = { words[i] }
    for k = i + 1, j do
      parts[#parts + 1] = gaps[k]
      parts[#parts + 1] = words[k]
    end
    -- the spaces of the gaps around the items beyond their separators
    local before = i == 1 and gaps[1] or sub(gaps[i], 2)
    local after = j == count and gaps[count + 1] or sub(gaps[j + 1], 2)
    if coded[i] then
      on_run(before .. concat(parts) .. after)
    else
      on_ascii(concat(parts) .. (j == count and after or ""))
    end
    i = j + 1
  end
end

function header.encode(value, options)
  check_string(value, 1, "encode")
  local encoding, charset, line_length, column = read_options(options)
  local out, first = {}, true

  -- Puts a piece after the separator of its place: nothing before the first,
  -- a space on the same line, or a fold.
  local function put(piece, fold)
    if first then
      out[#out + 1] = piece
      column = column + #piece
    elseif fold then
      out[#out + 1] = "\r\n " .. piece
      column = 1 + #piece
    else
      out[#out + 1] = " " .. piece
      column = column + 1 + #piece
    end
    first = false
  end

  -- ASCII words, folded before a space that comes before a word (the last
  -- space of a gap); `text` starts with its separator but on the first line.
  -- Nothing goes before the first word: the field body starts on the line of
  -- its name.
  local function put_ascii(text)
    local fresh = first
    while column + #text > line_length do
      local break_at = match(sub(text, 1, line_length - column + 2), "^.*() [^ ]")
      if not break_at or break_at == 1 and fresh then
        -- a word longer than the line stays whole
        break_at = find(text, " [^ ]", 2)
        if not break_at then break end
      end
      out[#out + 1] = sub(text, 1, break_at - 1) .. "\r\n"
      text, column, fresh = sub(text, break_at), 0, true
    end
    out[#out + 1] = text
    column = column + #text
    first = false
  end

  local overhead = #charset + 7 -- "=?" charset "?Q?" ... "?="
  local function put_run(text)
    local q_form = encoding ~= "B" and gsub(text, Q_UNSAFE, Q_ESCAPE) or nil
    if not encoding and 4 * floor((#text + 2) / 3) < #q_form then q_form = nil end
    local opening = "=?" .. charset .. (q_form and "?Q?" or "?B?")
    local position, cursor = 1, 1
    repeat
      local fold = false
      local payload, last, stop = next_payload(text, position, q_form, cursor,
        min(line_length - column - (first and 0 or 1), WORD_LIMIT) - overhead)
      if not payload and not first then
        fold = true
        payload, last, stop = next_payload(text, position, q_form, cursor,
          min(line_length - 1, WORD_LIMIT) - overhead)
      end
      -- A line too short for even one character takes one all the same.
      if not payload then
        payload, last, stop = next_payload(text, position, q_form, cursor, 0, true)
      end
      put(opening .. payload .. "?=", fold)
      position, cursor = last + 1, stop + 1
    until position > #text
  end

  each_item(value, function(text) put_ascii(first and text or " " .. text) end, put_run)
  return concat(out)
end

---------------------------------------------------------------------------
-- Decoding encoded words
---------------------------------------------------------------------------

-- =?charset?encoding?text?= with no white space, control or "?" inside.
local ENCODED_WORD = "=%?([!->@-~]+)%?([BbQq])%?([!->@-~]*)%?="

-- The bytes of an encoded word's text, or nil if it is malformed.
local function decode_text(encoding, text)
  if encoding == "B" or encoding == "b" then
    local data = match(text, "^[A-Za-z0-9+/]*")
    local padding = #text - #data
    local tail = #data % 4
    if not (padding == 0 and tail ~= 1 or padding == 1 and tail == 3 or padding == 2 and tail == 2)
        or padding > 0 and sub(text, -padding) ~= sub("==", 1, padding) then
      return nil
    end
    -- Padding is optional, as many writers leave it out.
    return unb64(data .. sub("==", 1, (4 - tail) % 4), nil) or ""
  end
  if find(gsub(text, "=[0-9A-Fa-f][0-9A-Fa-f]", ""), "=", 1, true) then return nil end
  return (gsub(gsub(text, "_", " "), "=(..)", HEX_BYTE))
end

-- Line breaks (CR LF or LF) before white space taken out. (A plain search
-- for LF is quicker than any pattern.)
local function unfold(text)
  local newline = find(text, "\n", 1, true)
  if not newline then return text end
  local parts, position = {}, 1
  repeat
    local after = byte(text, newline + 1)
    if after == 32 or after == 9 then
      local line_end = byte(text, newline - 1) == 13 and newline - 1 or newline
      parts[#parts + 1] = sub(text, position, line_end - 1)
      position = newline + 1
    end
    newline = find(text, "\n", newline + 1, true)
  until not newline
  parts[#parts + 1] = sub(text, position)
  return concat(parts)
end

function header.decode(text)
  check_string(text, 1, "decode")
  text = unfold(text)
  local out, charsets, seen = {}, {}, {}
  local position, start, after_word = 1, 1, false
  while true do
    -- The words are looked for where "=?" stands: quicker than a scan with
    -- the whole pattern.
    start = find(text, "=?", start, true)
    if not start then break end
    local first, last, charset, encoding, encoded = find(text, ENCODED_WORD, start)
    if not first then break end
    -- RFC 2231 lets a language follow the charset: "UTF-8*en".
    charset = match(charset, "^[^*]*")
    local decoded = charset ~= "" and decode_text(encoding, encoded)
    local between = sub(text, position, first - 1)
    if not (decoded and after_word and find(between, "^[ \t]*$")) then
      out[#out + 1] = between
    end
    if decoded then
      out[#out + 1] = decoded
      local key = charset:upper()
      if not seen[key] then
        seen[key] = true
        charsets[#charsets + 1] = charset
      end
    else
      out[#out + 1] = sub(text, first, last)
    end
    after_word = decoded and true or false
    position, start = last + 1, last + 1
  end
  out[#out + 1] = sub(text, position)
  return concat(out), charsets
end

---------------------------------------------------------------------------
-- Parameters
---------------------------------------------------------------------------

-- The longest parameter or section that fits a line of its own after the
-- space of a fold, with the ";" that follows it.
local SECTION_LIMIT = LINE_LIMIT - 2

function header.encode_param(name, value)
  check_attribute(name)
  check_string(value, 2, "encode_param")
  local plain
  -- "*", "'" and "%" are left to quoted strings: readers of RFC 2231 stumble
  -- on them in a bare value.
  if find(value, ATTRIBUTE) then
    plain = name .. "=" .. value
  elseif not find(value, "[^ -~]") then
    plain = name .. '="' .. gsub(value, '[\\"]', "\\%0") .. '"'
  end
  if plain and #plain <= SECTION_LIMIT then return plain end

  local encoded = gsub(value, PERCENT_UNSAFE, PERCENT_ESCAPE)
  local single = name .. "*=UTF-8''" .. encoded
  if #single <= SECTION_LIMIT then return single end

  local sections, position, cursor = {}, 1, 1
  repeat
    local n = #sections
    local prefix = name .. "*" .. n .. "*=" .. (n == 0 and "UTF-8''" or "")
    local last, stop =
      cut_escaped(value, encoded, position, cursor, SECTION_LIMIT - #prefix, 37, "%%")
    if not last then
      -- A name too long to leave room: one character per section.
      last = unit_end(value, position)
      stop = cursor + #gsub(sub(value, position, last), PERCENT_UNSAFE, PERCENT_ESCAPE) - 1
    end
    sections[n + 1] = prefix .. sub(encoded, cursor, stop)
    position, cursor = last + 1, stop + 1
  until position > #value
  return concat(sections, ";\r\n ")
end

-- A quoted string starting at `position` (its opening quote): its content
-- and the position after it. An unterminated one runs to the end.
local function read_quoted(text, position)
  local parts = {}
  position = position + 1
  while true do
    local stop = find(text, '["\\]', position)
    if not stop then
      parts[#parts + 1] = sub(text, position)
      return concat(parts), #text + 1
    end
    parts[#parts + 1] = sub(text, position, stop - 1)
    if byte(text, stop) == 34 then return concat(parts), stop + 1 end
    parts[#parts + 1] = sub(text, stop + 1, stop + 1)
    position = stop + 2
  end
end

local function percent_decode(text)
  return (gsub(text, "%%(..)", HEX_BYTE))
end

-- An RFC 2231 value without its "charset'language'" part, decoded.
local function extended_value(text)
  return percent_decode(match(text, "^[^']*'[^']*'(.*)$") or text)
end

function header.decode_params(field_body)
  check_string(field_body, 1, "decode_params")
  local text = unfold(field_body)
  local value_end = find(text, ";", 1, true) or #text + 1
  local value = match(sub(text, 1, value_end - 1), "^%s*(.-)%s*$")

  -- Each name's plain value, its extended value and its sections; the first
  -- of each wins.
  local plain, extended, sections, order = {}, {}, {}, {}
  local position = value_end + 1
  while position <= #text do
    local name_start = find(text, "[^%s;]", position)
    if not name_start then break end
    local name_end = (find(text, "[=;]", name_start) or #text + 1) - 1
    local name = match(sub(text, name_start, name_end), "^(.-)%s*$"):lower()
    local raw = ""
    position = name_end + 1
    if byte(text, position) == 61 then -- "="
      local start = find(text, "[^ \t]", position + 1) or #text + 1
      if byte(text, start) == 34 then
        raw, position = read_quoted(text, start)
        position = find(text, ";", position, true) or #text + 1
      else
        position = find(text, ";", start, true) or #text + 1
        raw = match(sub(text, start, position - 1), "^(.-)%s*$")
      end
    end
    local base, number, star = match(name, "^(.-)%*(%d+)(%*?)$")
    if base and base ~= "" then
      local list = sections[base]
      if not list then
        list = {}
        sections[base] = list
        order[#order + 1] = base
      end
      number = tonumber(number)
      if not list[number] then list[number] = { raw = raw, encoded = star == "*" } end
    elseif find(name, "%*$") then
      base = sub(name, 1, -2)
      if extended[base] == nil then
        extended[base] = raw
        order[#order + 1] = base
      end
    elseif name ~= "" and plain[name] == nil then
      plain[name] = raw
      order[#order + 1] = name
    end
  end

  local params = {}
  for _, name in ipairs(order) do
    if extended[name] then
      params[name] = extended_value(extended[name])
    elseif sections[name] then
      local list, numbers = sections[name], {}
      for number in pairs(list) do numbers[#numbers + 1] = number end
      table.sort(numbers)
      local parts = {}
      for i, number in ipairs(numbers) do
        local section = list[number]
        if not section.encoded then
          parts[i] = section.raw
        elseif i == 1 then
          parts[i] = extended_value(section.raw)
        else
          parts[i] = percent_decode(section.raw)
        end
      end
      params[name] = concat(parts)
    else
      params[name] = plain[name]
    end
  end
  return value, params
end

return header
