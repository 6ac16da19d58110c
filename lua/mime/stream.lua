-- mime.stream: stream objects over the eight filters of mime.core.
--
-- A stream object keeps the carries and states of a chain of filters, so the
-- caller only pushes chunks and finishes: s:push(chunk) returns the output
-- that is ready, s:finish() the rest. On top of chains: ready-made bodies
-- (Base64, quoted-printable, SMTP data), decoders by transfer-encoding name,
-- with an optional strict mode, whole-string helpers and a pump that moves a
-- stream from a reader to a writer in constant memory.
--
-- Misuse (a wrong type, a bad parameter, a call after finish) raises an error;
-- bad data in strict mode makes push or finish return nil and a message.

local core = require "mime.core"

local byte, find, sub, lower, format = string.byte, string.find, string.sub, string.lower,
  string.format
local concat = table.concat
local floor = math.floor
local io_type = io.type
local error, type, tostring, setmetatable, getmetatable = error, type, tostring, setmetatable,
  getmetatable
local unb64, unqp, qp, eol = core.unb64, core.unqp, core.qp, core.eol

local stream = {}

local DEFAULT_LINE_LENGTH = 76
local MAX_LINE_LENGTH = 2147483647 -- the filters keep line lengths in 32 bits
local DEFAULT_CHUNK_SIZE = 64 * 1024
local CRLF = "\r\n"

local function arg_error(n, fname, message)
  error(format("bad argument #%d to '%s' (%s)", n, fname, message), 3)
end

-- Bytes other than printable ASCII as decimal escapes.
local function printable(text)
  return (text:gsub("[^\33-\126]", function(c) return format("\\%d", byte(c)) end))
end

-- How a value is named in a message.
local function show(value)
  if type(value) == "number" then return tostring(value) end
  if type(value) == "string" then return "'" .. printable(value) .. "'" end
  return type(value)
end

local function line_length_problem(value, shortest)
  if type(value) ~= "number" or value ~= floor(value) or value < shortest
      or value > MAX_LINE_LENGTH then
    return format("line length must be a whole number from %d to %d, got %s", shortest,
      MAX_LINE_LENGTH, show(value))
  end
end

local function line_end_problem(value)
  if type(value) ~= "string" then return "line end must be a string, got " .. type(value) end
  -- The filters would cut it at the zero byte without a word.
  if find(value, "%z") then return "line end must not hold a zero byte" end
end

-- The filters a chain is made of: the function, the start state, and the
-- parameter it takes ("line end" or "line length"), with its default.
-- The start state of wrp and qpwrp is the line length: a whole line of room.
local FILTERS = {
  b64 = { fn = core.b64, state = "" },
  unb64 = { fn = core.unb64, state = "" },
  qp = { fn = core.qp, state = "", takes = "line end", default = CRLF },
  unqp = { fn = core.unqp, state = "" },
  wrp = { fn = core.wrp, takes = "line length", default = DEFAULT_LINE_LENGTH, shortest = 1 },
  -- Below 4 an escape and its soft break no longer fit on a line.
  qpwrp = { fn = core.qpwrp, takes = "line length", default = DEFAULT_LINE_LENGTH, shortest = 4 },
  eol = { fn = core.eol, state = 0, takes = "line end", default = CRLF },
  dot = { fn = core.dot, state = 2 },
}

---------------------------------------------------------------------------
-- Stream objects
---------------------------------------------------------------------------

-- The metatable of every stream object; the methods are the object's own
-- closures, which keep the filters and their parameters in upvalues: a push
-- then costs little more than the direct calls.
local Stream = { __name = "mime.stream" }

-- status: nil while the stream runs, FINISHED after finish, or the message
-- of the strict check that failed (the object is then spent).
local FINISHED = {}

-- A call on a stream that has ended: misuse after finish, the message of
-- the failure again after a strict check failed.
local function refuse(s, method)
  if s.status == FINISHED then
    error(format("mime.stream: %s after finish", method), 3)
  end
  return nil, s.status
end

local function bad_self(method, self)
  error(format("bad self to '%s' (its own stream object expected, got %s); call it as s:%s(...)",
    method, type(self), method), 3)
end

-- stages: a list of { filter, parameter } with checked parameters. hooks:
-- check(s, chunk), which runs the chunk through the stages itself and returns
-- their output, or nil and a message for bad data; check_end(s), which
-- returns a message for bad data; and terminate(line_state), the last words
-- of the stream.
local function new_stream(stages, hooks)
  hooks = hooks or {}
  local n, fns, states, params = #stages, {}, {}, {}
  for i, entry in ipairs(stages) do
    local filter, parameter = entry[1], entry[2]
    fns[i], params[i] = filter.fn, parameter
    if filter.state ~= nil then states[i] = filter.state else states[i] = parameter end
  end
  local s = setmetatable({ states = states, consumed = 0 }, Stream)
  local check, check_end, terminate = hooks.check, hooks.check_end, hooks.terminate
  local f1, f2, f3 = fns[1], fns[2], fns[3]
  local p1, p2, p3 = params[1], params[2], params[3]

  function s.push(self, chunk)
    if self ~= s then bad_self("push", self) end
    if s.status then return refuse(s, "push") end
    if type(chunk) ~= "string" then
      if type(chunk) ~= "number" then
        arg_error(1, "push", "string expected, got " .. type(chunk))
      end
      chunk = tostring(chunk)
    end
    -- An empty chunk changes no carry and no state.
    if chunk == "" or n == 0 then return chunk end
    if check then
      local data, problem = check(s, chunk)
      if data then return data end
      s.status = problem
      return nil, problem
    end
    local data
    data, states[1] = f1(states[1], chunk, p1)
    if n == 1 or data == "" then return data end
    data, states[2] = f2(states[2], data, p2)
    if n == 2 or data == "" then return data end
    data, states[3] = f3(states[3], data, p3)
    for i = 4, n do
      if data == "" then return data end
      data, states[i] = fns[i](states[i], data, params[i])
    end
    return data
  end

  function s.finish(self)
    if self ~= s then bad_self("finish", self) end
    if s.status then return refuse(s, "finish") end
    if check_end then
      local problem = check_end(s)
      if problem then
        s.status = problem
        return nil, problem
      end
    end
    s.status = FINISHED
    local out, count, last_state = {}, 0, nil
    -- Each stage gives its end-of-stream answer in turn; what it still held
    -- back flows through the stages after it before they end in their turn.
    for i = 1, n do
      last_state = states[i]
      local data
      data, states[i] = fns[i](states[i], nil, params[i])
      for j = i + 1, n do
        if data == nil or data == "" then break end
        data, states[j] = fns[j](states[j], data, params[j])
      end
      if data ~= nil and data ~= "" then
        count = count + 1
        out[count] = data
      end
    end
    if terminate then
      count = count + 1
      out[count] = terminate(last_state)
    end
    return concat(out)
  end

  return s
end

local function stage(name, parameter)
  local filter = FILTERS[name]
  if parameter == nil then parameter = filter.default end
  return { filter, parameter }
end

function stream.chain(stages)
  if type(stages) ~= "table" then arg_error(1, "chain", "table expected, got " .. type(stages)) end
  if stages[1] == nil then arg_error(1, "chain", "empty list of stages") end
  local checked = {}
  for i = 1, #stages do
    local entry, name, parameter = stages[i], nil, nil
    if type(entry) == "table" then name, parameter = entry[1], entry[2] else name = entry end
    local filter = type(name) == "string" and FILTERS[name]
    if not filter then
      arg_error(1, "chain", format("stage %d: unknown filter %s", i, show(name)))
    end
    if parameter ~= nil then
      local problem
      if filter.takes == "line end" then
        problem = line_end_problem(parameter)
      elseif filter.takes == "line length" then
        problem = line_length_problem(parameter, filter.shortest)
      else
        problem = "takes no parameter"
      end
      if problem then arg_error(1, "chain", format("stage %d (%s): %s", i, name, problem)) end
    end
    checked[i] = stage(name, parameter)
  end
  return new_stream(checked)
end

---------------------------------------------------------------------------
-- Ready-made streams
---------------------------------------------------------------------------

local function base64_body(line_length)
  return new_stream({ stage("b64"), stage("wrp", line_length) })
end

local function qp_body(line_length)
  return new_stream({ stage("eol", CRLF), stage("qp", CRLF), stage("qpwrp", line_length) })
end

local function check_line_length(value, shortest, n, fname, what)
  if value == nil then return DEFAULT_LINE_LENGTH end
  local problem = line_length_problem(value, shortest)
  if problem then error(format("bad argument #%d to '%s' (%s%s)", n, fname, what or "", problem), 3) end
  return value
end

function stream.base64_body(line_length)
  return base64_body(check_line_length(line_length, 1, 1, "base64_body"))
end

function stream.qp_body(line_length)
  return qp_body(check_line_length(line_length, 4, 1, "qp_body"))
end

-- SMTP data ends with a line holding a single ".": the last line is ended
-- first unless the data stopped at the start of a line (or was empty).
local function smtp_terminator(line_state)
  if line_state == 2 then return ".\r\n" end
  return "\r\n.\r\n"
end

function stream.smtp_data()
  return new_stream({ stage("eol", CRLF), stage("dot") }, { terminate = smtp_terminator })
end

---------------------------------------------------------------------------
-- Strict decoding. The checks run the lenient filters and prove from their
-- output that they dropped nothing and copied nothing undecoded; only then
-- is a fault looked for byte by byte (a pattern with a character class is
-- some twenty times slower than the filters), to report where it is.
-- Offsets count from 1 over the whole stream.
---------------------------------------------------------------------------

local function name_byte(b)
  if b > 32 and b < 127 then return format("'%c'", b) end
  return format("byte %d", b)
end

local BASE64_FOREIGN = "[^A-Za-z0-9+/=\r\n]"

local function base64_problem(offset, what)
  return format("invalid base64 at byte %d: %s", offset, what)
end

-- Where the last `count` characters other than CR and LF begin, or nil when
-- the chunk holds fewer. Looks at a growing window at the end of the chunk.
local function start_of_last(chunk, count)
  local size, window = #chunk, 16
  while true do
    if window > size then window = size end
    local tail = sub(chunk, size - window + 1):reverse()
    local at = 0
    for _ = 1, count do
      at = find(tail, "[^\r\n]", at + 1)
      if not at then break end
    end
    if at then return size - at + 1 end
    if window == size then return nil end
    window = window * 4
  end
end

-- Base64 is groups of four characters of the alphabet; "=" may only pad the
-- end of a group ("xx==" or "xxx="); CR and LF may stand anywhere. The
-- place of an "=" in its group is the length of what unb64 leaves pending
-- before it. The exact scan: the message for the first fault of the chunk,
-- or nil.
local function base64_fault(self, chunk)
  local consumed = self.consumed
  local foreign = find(chunk, BASE64_FOREIGN)
  local limit = foreign or #chunk + 1
  local pending = self.states[1]
  if #pending == 3 and byte(pending, 3) == 61 then
    local next_char = find(chunk, "[^\r\n]")
    if next_char and next_char < limit and byte(chunk, next_char) ~= 61 then
      return base64_problem(consumed + next_char,
        name_byte(byte(chunk, next_char)) .. " after '=' in the third place of a group")
    end
  end
  local from = 1
  while true do
    local equals = find(chunk, "=", from, true)
    if not equals or equals >= limit then break end
    local _, before = unb64(pending, sub(chunk, from, equals - 1))
    local place = #before
    if place < 2 then
      return base64_problem(consumed + equals, "'=' in the first or second place of a group")
    end
    if place == 2 then
      local next_char = find(chunk, "[^\r\n]", equals + 1)
      if next_char and next_char < limit and byte(chunk, next_char) ~= 61 then
        return base64_problem(consumed + next_char,
          name_byte(byte(chunk, next_char)) .. " after '=' in the third place of a group")
      end
      pending = before .. "="
    else
      pending = ""
    end
    from = equals + 1
  end
  if foreign then
    return base64_problem(consumed + foreign,
      name_byte(byte(chunk, foreign)) .. " is not a Base64 character")
  end
end

-- The pieces of an output so far: the one string, then a list of them.
local function gather(parts, count, piece)
  if count == 1 then return piece end
  if count == 2 then parts = { parts } end
  parts[count] = piece
  return parts
end

-- The decoding of pending and text (a chunk without its CR and LF) and what
-- is left pending, or nil when the text holds a fault. Between two "=" the
-- characters make whole groups of 3 bytes each, so the output of unb64
-- counts the characters it took: fewer than given means a foreign byte.
local function decode_base64(pending, text)
  local parts, count, from = nil, 0, 1
  while true do
    local equals = find(text, "=", from, true)
    local piece = text
    if equals then piece = sub(text, from, equals - 1) elseif from > 1 then piece = sub(text, from) end
    if #pending == 3 and byte(pending, 3) == 61 then
      -- After "=" in the third place only "=" may follow.
      if piece ~= "" then return nil end
    else
      local held = #pending
      local out
      out, pending = unb64(pending, piece)
      if #out / 3 * 4 + #pending ~= held + #piece then return nil end
      count = count + 1
      parts = gather(parts, count, out)
    end
    if not equals then break end
    local place = #pending
    if place < 2 then return nil end
    if place == 2 then
      pending = pending .. "="
    else
      -- The group is whole; unb64 gives its one or two bytes.
      count = count + 1
      parts = gather(parts, count, (unb64(pending, "=")))
      pending = ""
    end
    from = equals + 1
  end
  if count > 1 then parts = concat(parts) end
  return parts or "", pending
end

local function check_base64(self, chunk)
  local states, consumed = self.states, self.consumed
  local data, pending = decode_base64(states[1], (eol(0, chunk, "")))
  if not data then
    local problem = base64_fault(self, chunk)
    if problem then return nil, problem end
    data, pending = unb64(states[1], chunk)
  end
  states[1] = pending
  -- Where the group left open at the end of the chunk began, for finish.
  if pending == "" then
    self.group_start = nil
  else
    local start = start_of_last(chunk, #pending)
    if start then self.group_start = consumed + start end
  end
  self.consumed = consumed + #chunk
  return data
end

local function check_base64_end(self)
  if self.states[1] ~= "" then
    return base64_problem(self.group_start, "the last group is incomplete")
  end
end

-- Quoted-printable, checked on the bytes before their line ends are made
-- CR LF (so any line end is fine): bytes the decoder would drop, and escapes
-- it would copy undecoded: "=" followed by anything but two hexadecimal
-- digits or a line end (a soft line break).
local QP_DROPPED = "[%z\1-\8\11\12\14-\31\127-\255]"
local QP_BAD_ESCAPE = "=[^0-9A-Fa-f\r\n]"
local QP_BAD_ESCAPE_DIGIT = "=[0-9A-Fa-f][^0-9A-Fa-f]"

local function qp_problem(offset, what)
  return format("invalid quoted-printable at byte %d: %s", offset, what)
end

-- self.tail holds an escape cut by the end of the previous chunk ("=" or
-- "=" and a digit); it is checked again with the bytes that follow it.
-- Before the first fault every "=" begins an escape (digits and line ends
-- hold none), so the first match of either escape pattern is the first
-- malformed escape. The exact scan: the message for the first fault of the
-- chunk, or nil.
local function qp_fault(self, chunk)
  local tail = self.tail or ""
  local text = tail == "" and chunk or tail .. chunk
  local base = self.consumed - #tail
  local dropped = find(text, QP_DROPPED)
  local escape, escape_end = find(text, QP_BAD_ESCAPE)
  local other, other_end = find(text, QP_BAD_ESCAPE_DIGIT)
  if other and (not escape or other < escape) then escape, escape_end = other, other_end end
  if escape and (not dropped or escape <= dropped) then
    -- Shown up to the byte that spoils it, the same at any chunking.
    return qp_problem(base + escape,
      format("malformed escape '%s'", printable(sub(text, escape, escape_end))))
  end
  if dropped then
    return qp_problem(base + dropped,
      name_byte(byte(text, dropped)) .. " cannot stand in quoted-printable text")
  end
  local size = #text
  if byte(text, size) == 61 then
    tail = "="
  elseif size > 1 and byte(text, size - 1) == 61 and find(text, "^[0-9A-Fa-f]", size) then
    tail = sub(text, size - 1)
  else
    tail = ""
  end
  self.tail = tail
  self.consumed = self.consumed + #chunk
end

local HEX_DIGIT = {}
for c in ("0123456789ABCDEFabcdef"):gmatch(".") do HEX_DIGIT[byte(c)] = true end

local function occurrences(text, word)
  local count, at = 0, 0
  while true do
    at = find(text, word, at + 1, true)
    if not at then return count end
    count = count + 1
  end
end

-- Whether unqp decoded every escape and dropped no byte. text: what unqp was
-- given, its carry and the output of eol (CR LF line ends only); decoded and
-- held: its output and the escape it keeps for the next chunk. Over taken,
-- text without held: once CR and LF are gone, qp escapes the "=" and the
-- bytes unqp drops, 2 more bytes each. Decoding takes away 2 bytes per
-- escape, 3 per soft line break "=\r\n", 1 per dropped byte, none for a
-- malformed escape (copied; it drops at most the LF whose CR it took), so
-- it takes away as much as qp adds plus one per "=\r\n" exactly when no
-- escape is malformed and no byte is dropped, and less otherwise.
local function qp_decoded_all(text, decoded, held)
  if held ~= "" and held ~= "=" and not (#held == 2 and HEX_DIGIT[byte(held, 2)]) then
    return false
  end
  -- held holds no CR or LF and is not cut off: its "=" is counted and
  -- taken away again (its digit is not escaped).
  local bare = eol(0, text, "")
  local escaped, waiting = qp("", bare)
  local added = #escaped - #bare + #waiting
  -- A space or tab at the end waits for what follows it; a letter settles it.
  if waiting ~= "" then added = added + #qp(waiting, "xx") - #waiting - 2 end
  if held ~= "" then added = added - 2 end
  return #text - #held - #decoded == added + occurrences(text, "=\r\n")
end

local function check_qp(self, chunk)
  local states = self.states
  local text
  text, states[1] = eol(states[1], chunk, CRLF)
  local carry = states[2]
  if carry ~= "" then text = carry .. text end
  local decoded, held = unqp("", text)
  states[2] = held
  if qp_decoded_all(text, decoded, held) then
    self.tail = held
    self.consumed = self.consumed + #chunk
    return decoded
  end
  local problem = qp_fault(self, chunk)
  if problem then return nil, problem end
  return decoded
end

local function check_qp_end(self)
  if self.tail and self.tail ~= "" then
    return qp_problem(self.consumed - #self.tail + 1, "escape left unfinished at the end")
  end
end

---------------------------------------------------------------------------
-- Decoders and whole strings
---------------------------------------------------------------------------

local PASS_THROUGH = { ["7bit"] = true, ["8bit"] = true, binary = true }

local function transfer_encoding(value, n, fname)
  if type(value) ~= "string" then
    error(format("bad argument #%d to '%s' (transfer encoding name expected, got %s)", n, fname,
      type(value)), 3)
  end
  local name = lower(value)
  if name ~= "base64" and name ~= "quoted-printable" and not PASS_THROUGH[name] then
    error(format("bad argument #%d to '%s' (unknown transfer encoding %s)", n, fname,
      show(value)), 3)
  end
  return name
end

local function check_options(options, n, fname)
  if options == nil then return {} end
  if type(options) ~= "table" then
    error(format("bad argument #%d to '%s' (table of options expected, got %s)", n, fname,
      type(options)), 3)
  end
  return options
end

local STRICT_BASE64 = { check = check_base64, check_end = check_base64_end }
local STRICT_QP = { check = check_qp, check_end = check_qp_end }

local function decoder(name, strict)
  if name == "base64" then
    return new_stream({ stage("unb64") }, strict and STRICT_BASE64)
  elseif name == "quoted-printable" then
    -- Bodies stored with bare LF (or CR) line ends decode right once their
    -- line ends are CR LF again.
    return new_stream({ stage("eol", CRLF), stage("unqp") }, strict and STRICT_QP)
  end
  return new_stream({})
end

function stream.decoder(encoding, options)
  local name = transfer_encoding(encoding, 1, "decoder")
  options = check_options(options, 2, "decoder")
  return decoder(name, options.strict)
end

local function read_text(s, n, fname)
  if type(s) == "string" then return s end
  if type(s) == "number" then return tostring(s) end
  error(format("bad argument #%d to '%s' (string expected, got %s)", n, fname, type(s)), 3)
end

function stream.encode_all(encoding, s, options)
  local name = transfer_encoding(encoding, 1, "encode_all")
  s = read_text(s, 2, "encode_all")
  options = check_options(options, 3, "encode_all")
  if PASS_THROUGH[name] then return s end
  local encoder
  if name == "base64" then
    encoder = base64_body(check_line_length(options.line_length, 1, 3, "encode_all", "line_length: "))
  else
    encoder = qp_body(check_line_length(options.line_length, 4, 3, "encode_all", "line_length: "))
  end
  return encoder:push(s) .. encoder:finish()
end

function stream.decode_all(encoding, s, options)
  local name = transfer_encoding(encoding, 1, "decode_all")
  s = read_text(s, 2, "decode_all")
  options = check_options(options, 3, "decode_all")
  if PASS_THROUGH[name] then return s end
  local d = decoder(name, options.strict)
  local head, problem = d:push(s)
  if not head then return nil, problem end
  local rest
  rest, problem = d:finish()
  if not rest then return nil, problem end
  return head .. rest
end

---------------------------------------------------------------------------
-- The pump
---------------------------------------------------------------------------

local function describe(value)
  local kind = io_type(value)
  return kind or type(value)
end

function stream.pump(reader, writer, s, chunk_size)
  if chunk_size == nil then chunk_size = DEFAULT_CHUNK_SIZE end
  if type(chunk_size) ~= "number" or chunk_size ~= floor(chunk_size) or chunk_size < 1
      or chunk_size > MAX_LINE_LENGTH then
    arg_error(4, "pump", format("chunk size must be a whole number from 1 to %d, got %s",
      MAX_LINE_LENGTH, show(chunk_size)))
  end
  local read, write, file_out
  if type(reader) == "function" then
    read = reader
  elseif io_type(reader) == "file" then
    -- A file's read gives less than asked only at the end of the file (or on
    -- an error, which it reports), so a short chunk ends the stream: at a
    -- terminal one end-of-file key is enough.
    local ended = false
    read = function()
      if ended then return nil end
      local chunk, message = reader:read(chunk_size)
      if chunk and #chunk < chunk_size then ended = true end
      return chunk, message
    end
  else
    arg_error(1, "pump", "file or function expected, got " .. describe(reader))
  end
  if type(writer) == "function" then
    write = writer
  elseif io_type(writer) == "file" then
    file_out = writer
    write = function(data) return writer:write(data) end
  else
    arg_error(2, "pump", "file or function expected, got " .. describe(writer))
  end
  if type(s) ~= "table" or getmetatable(s) ~= Stream then
    arg_error(3, "pump", "stream object expected, got " .. type(s))
  end

  local bytes_read, bytes_written = 0, 0
  local function put(data)
    if data == "" then return true end
    local ok, message = write(data)
    if not ok then
      if message == nil then message = "write failed" end
      return false, tostring(message)
    end
    bytes_written = bytes_written + #data
    return true
  end

  while true do
    local chunk, message = read()
    if not chunk then
      if message ~= nil then return nil, tostring(message) end
      break
    end
    if type(chunk) ~= "string" then
      error(format("mime.stream: pump's reader returned a %s (string or nil expected)", type(chunk)), 2)
    end
    bytes_read = bytes_read + #chunk
    local output, problem = s:push(chunk)
    if not output then return nil, problem end
    local ok, failure = put(output)
    if not ok then return nil, failure end
  end
  local rest, problem = s:finish()
  if not rest then return nil, problem end
  local ok, failure = put(rest)
  if not ok then return nil, failure end
  -- Buffered bytes that cannot be written are a failed write too.
  if file_out then
    local flushed, message = file_out:flush()
    if not flushed then return nil, tostring(message) end
  end
  return bytes_read, bytes_written
end

return stream
