-- Reference model of the eight mime.core filters.
--
-- Written for obviousness, not speed: every filter walks its input one byte at
-- a time with the same pending group and the same decisions as the native
-- code, so a test can compare the two call by call. Only plain arithmetic is
-- used (no bit library, no integer division), so the model runs unchanged on
-- Lua 5.1, LuaJIT, 5.2, 5.3 and 5.4.

local floor, ceil = math.floor, math.ceil
local char, concat = string.char, table.concat
local tointeger = math.tointeger -- nil before 5.3

local model = {}

---------------------------------------------------------------------------
-- Argument reading, as Lua's auxiliary checks do it
---------------------------------------------------------------------------

local function arg_error(n, fname, message)
  error(("bad argument #%d to '%s' (%s)"):format(n, fname, message), 3)
end

-- luaL_optlstring: nil stays nil, a number is taken in its string form.
local function opt_string(value, n, fname)
  local kind = type(value)
  if kind == "nil" or kind == "string" then return value end
  if kind == "number" then return tostring(value) end
  arg_error(n, fname, "string expected, got " .. kind)
end

-- luaL_checknumber: numbers and numeric strings.
local function check_number(value, n, fname)
  local kind = type(value)
  local number = (kind == "number" or kind == "string") and tonumber(value) or nil
  if number == nil then arg_error(n, fname, "number expected, got " .. kind) end
  return number
end

local function opt_number(value, n, fname, default)
  if value == nil then return default end
  return check_number(value, n, fname)
end

-- Results are integers (integer subtype where the language has one) and
-- never a negative zero.
local function integer(x)
  if x == 0 then return 0 end
  if tointeger then return tointeger(x) end
  return x
end

local function truncate(x)
  if x >= 0 then return floor(x) end
  return ceil(x)
end

local INT32_MIN, INT32_MAX = -2 ^ 31, 2 ^ 31 - 1
-- The largest 64-bit value, as the running Lua can hold it: exact on 5.3+,
-- rounded to 2^63 where every number is a double.
local INT64_MAX = math.maxinteger or 2 ^ 63
local INT64_MIN = math.mininteger or -2 ^ 63

-- room and line_length: truncated, clamped to 32 bits, NaN reads 0.
local function read_int32(x)
  if x ~= x then return 0 end
  if x <= INT32_MIN then return integer(INT32_MIN) end
  if x >= INT32_MAX then return integer(INT32_MAX) end
  return integer(truncate(x))
end

-- line_state: truncated; negative, NaN or 2^32 and above read 0.
local function read_uint32(x)
  if x ~= x or x < 0 or x >= 2 ^ 32 then return 0 end
  return integer(truncate(x))
end

-- last_break: truncated, clamped to 64 bits, NaN reads 0.
local function read_int64(x)
  if x ~= x then return 0 end
  if x >= 2 ^ 63 then return INT64_MAX end
  if x <= -2 ^ 63 then return INT64_MIN end
  return integer(truncate(x))
end

-- Strings appended with luaL_addstring stop at their first zero byte.
local function up_to_zero(s)
  local zero = s:find("\0", 1, true)
  if zero then return s:sub(1, zero - 1) end
  return s
end

local function bytes_of(group, count)
  local out = {}
  for i = 1, count do out[i] = char(group[i]) end
  return concat(out)
end

local function shift(group, count)
  for i = 1, count - 1 do group[i] = group[i + 1] end
  group[count] = nil
  return count - 1
end

local CR, LF, TAB, SPACE, EQUALS, DOT = 13, 10, 9, 32, 61, 46

---------------------------------------------------------------------------
-- The two-chunk call shared by the codecs
---------------------------------------------------------------------------

-- step(byte, group, count, out, extra) -> count; finish(group, count, out)
-- flushes at end of stream (nil for the decoders, which discard).
local function two_chunk(fname, step, finish, carry, chunk, extra)
  local group, count, out = {}, 0, {}
  for i = 1, #carry do count = step(carry:byte(i), group, count, out, extra) end
  chunk = opt_string(chunk, 2, fname)
  if chunk == nil then
    if finish then finish(group, count, out) end
    local text = concat(out)
    if text == "" then return nil, nil end
    return text, nil
  end
  for i = 1, #chunk do count = step(chunk:byte(i), group, count, out, extra) end
  return concat(out), bytes_of(group, count)
end

---------------------------------------------------------------------------
-- Base64
---------------------------------------------------------------------------

local ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
local DIGIT, VALUE = {}, {}
for i = 1, 64 do
  DIGIT[i - 1] = ALPHABET:sub(i, i)
  VALUE[ALPHABET:byte(i)] = i - 1
end
VALUE[EQUALS] = 0

local function b64_step(b, group, count, out)
  count = count + 1
  group[count] = b
  if count < 3 then return count end
  local v = group[1] * 65536 + group[2] * 256 + group[3]
  out[#out + 1] = DIGIT[floor(v / 262144)] .. DIGIT[floor(v / 4096) % 64]
    .. DIGIT[floor(v / 64) % 64] .. DIGIT[v % 64]
  return 0
end

local function b64_finish(group, count, out)
  if count == 1 then
    local v = group[1] * 16
    out[#out + 1] = DIGIT[floor(v / 64)] .. DIGIT[v % 64] .. "=="
  elseif count == 2 then
    local v = (group[1] * 256 + group[2]) * 4
    out[#out + 1] = DIGIT[floor(v / 4096)] .. DIGIT[floor(v / 64) % 64]
      .. DIGIT[v % 64] .. "="
  end
end

function model.b64(carry, chunk)
  carry = opt_string(carry, 1, "b64")
  if carry == nil then return nil, nil end
  return two_chunk("b64", b64_step, b64_finish, carry, chunk)
end

local function unb64_step(b, group, count, out)
  if VALUE[b] == nil then return count end
  count = count + 1
  group[count] = b
  if count < 4 then return count end
  local v = VALUE[group[1]] * 262144 + VALUE[group[2]] * 4096
    + VALUE[group[3]] * 64 + VALUE[group[4]]
  local decoded = char(floor(v / 65536) % 256, floor(v / 256) % 256, v % 256)
  if group[3] == EQUALS then
    out[#out + 1] = decoded:sub(1, 1)
  elseif group[4] == EQUALS then
    out[#out + 1] = decoded:sub(1, 2)
  else
    out[#out + 1] = decoded
  end
  return 0
end

function model.unb64(carry, chunk)
  carry = opt_string(carry, 1, "unb64")
  if carry == nil then return nil, nil end
  return two_chunk("unb64", unb64_step, nil, carry, chunk)
end

---------------------------------------------------------------------------
-- Quoted-printable
---------------------------------------------------------------------------

local HEX = "0123456789ABCDEF"

local function escape(b)
  local high, low = floor(b / 16), b % 16
  return "=" .. HEX:sub(high + 1, high + 1) .. HEX:sub(low + 1, low + 1)
end

local function is_literal(b)
  return (b >= 33 and b <= 60) or (b >= 62 and b <= 126)
end

local function qp_step(b, group, count, out, line_end)
  count = count + 1
  group[count] = b
  while count > 0 do
    local first = group[1]
    if first == CR then
      if count < 2 then return count end
      if group[2] == LF then
        out[#out + 1] = line_end
        return 0
      end
      out[#out + 1] = escape(first)
    elseif first == SPACE or first == TAB then
      if count < 3 then return count end
      if group[2] == CR and group[3] == LF then
        out[#out + 1] = escape(first) .. line_end
        return 0
      end
      out[#out + 1] = char(first)
    elseif is_literal(first) then
      out[#out + 1] = char(first)
    else
      out[#out + 1] = escape(first)
    end
    count = shift(group, count)
  end
  return 0
end

local function qp_finish(group, count, out)
  for i = 1, count do
    local b = group[i]
    out[#out + 1] = is_literal(b) and char(b) or escape(b)
  end
  if count > 0 then out[#out + 1] = "=\r\n" end
end

function model.qp(carry, chunk, line_end)
  carry = opt_string(carry, 1, "qp")
  line_end = opt_string(line_end, 3, "qp")
  if carry == nil then return nil, nil end
  line_end = up_to_zero(line_end or "\r\n")
  return two_chunk("qp", qp_step, qp_finish, carry, chunk, line_end)
end

local function hex_value(b)
  if b >= 48 and b <= 57 then return b - 48 end
  if b >= 65 and b <= 70 then return b - 55 end
  if b >= 97 and b <= 102 then return b - 87 end
  return nil
end

local function unqp_step(b, group, count, out)
  count = count + 1
  group[count] = b
  while true do
    local first = group[1]
    if first == CR then
      if count < 2 then return count end
      if group[2] == LF then
        out[#out + 1] = "\r\n"
        return 0
      end
      -- A CR without its LF is dropped on its own; the byte behind it is
      -- decided afresh.
      count = shift(group, count)
    elseif first == EQUALS then
      if count < 3 then return count end
      if not (group[2] == CR and group[3] == LF) then
        local high, low = hex_value(group[2]), hex_value(group[3])
        if high and low then
          out[#out + 1] = char(high * 16 + low)
        else
          out[#out + 1] = char(group[1], group[2], group[3])
        end
      end
      return 0
    else
      if first == TAB or (first >= 32 and first <= 126) then
        out[#out + 1] = char(first)
      end
      return 0
    end
  end
end

function model.unqp(carry, chunk)
  carry = opt_string(carry, 1, "unqp")
  if carry == nil then return nil, nil end
  return two_chunk("unqp", unqp_step, nil, carry, chunk)
end

---------------------------------------------------------------------------
-- Line wrappers
---------------------------------------------------------------------------

local function wrapper(fname, soft_break, escape_threshold, byte_threshold)
  return function(room, chunk, line_length)
    room = read_int32(check_number(room, 1, fname))
    chunk = opt_string(chunk, 2, fname)
    line_length = read_int32(opt_number(line_length, 3, fname, 76))
    if chunk == nil then
      if room < line_length then return soft_break, line_length end
      return nil, line_length
    end
    local out = {}
    for i = 1, #chunk do
      local b = chunk:byte(i)
      if b == LF then
        out[#out + 1] = "\r\n"
        room = line_length
      elseif b ~= CR then
        local threshold = b == EQUALS and escape_threshold or byte_threshold
        if room <= threshold then
          out[#out + 1] = soft_break
          room = line_length
        end
        out[#out + 1] = char(b)
        if room > INT32_MIN then room = room - 1 end
      end
    end
    return concat(out), integer(room)
  end
end

model.wrp = wrapper("wrp", "\r\n", 0, 0)
model.qpwrp = wrapper("qpwrp", "=\r\n", 3, 1)

---------------------------------------------------------------------------
-- End-of-line normaliser
---------------------------------------------------------------------------

local function is_break(b)
  return b == CR or b == LF
end

function model.eol(last_break, chunk, line_end)
  last_break = read_int64(check_number(last_break, 1, "eol"))
  chunk = opt_string(chunk, 2, "eol")
  line_end = up_to_zero(opt_string(line_end, 3, "eol") or "\r\n")
  if chunk == nil then return nil, 0 end
  local out = {}
  for i = 1, #chunk do
    local b = chunk:byte(i)
    if not is_break(b) then
      out[#out + 1] = char(b)
      last_break = 0
    elseif not is_break(last_break) then
      out[#out + 1] = line_end
      last_break = b
    elseif b == last_break then
      out[#out + 1] = line_end
      last_break = 0
    else
      last_break = 0
    end
  end
  return concat(out), integer(last_break)
end

---------------------------------------------------------------------------
-- Dot-stuffing
---------------------------------------------------------------------------

function model.dot(line_state, chunk)
  line_state = read_uint32(check_number(line_state, 1, "dot"))
  chunk = opt_string(chunk, 2, "dot")
  if chunk == nil then return nil, 2 end
  local out = {}
  for i = 1, #chunk do
    local b = chunk:byte(i)
    out[#out + 1] = char(b)
    if b == CR then
      line_state = 1
    elseif b == LF then
      line_state = line_state == 1 and 2 or 0
    elseif b == DOT then
      if line_state == 2 then out[#out + 1] = "." end
      line_state = 0
    else
      line_state = 0
    end
  end
  return concat(out), integer(line_state)
end

return model
