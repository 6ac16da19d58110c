-- Helpers shared by the mime.core tests: readable dumps of byte strings,
-- table-driven call checks, a portable random generator and the streaming
-- driver that feeds a string through a filter chunk by chunk.

local support = {}

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
support.model = dofile(here .. "model.lua")

local unpack = table.unpack or unpack
local math_type = math.type -- nil before 5.3

support.unpack = unpack
support.NAMES = { "b64", "unb64", "qp", "unqp", "qpwrp", "wrp", "eol", "dot" }

-- Codecs carry a string of pending bytes; line filters carry a number.
support.TWO_CHUNK = { b64 = true, unb64 = true, qp = true, unqp = true }
-- Functions with an optional third argument.
support.HAS_PARAM = { qp = true, wrp = true, qpwrp = true, eol = true }

---------------------------------------------------------------------------
-- Showing values
---------------------------------------------------------------------------

local ESCAPES = { [9] = "\\t", [10] = "\\n", [13] = "\\r", [34] = '\\"', [92] = "\\\\" }

local function show_string(s, limit)
  limit = limit or 200
  local parts = {}
  for i = 1, math.min(#s, limit) do
    local b = s:byte(i)
    parts[i] = ESCAPES[b] or ((b >= 32 and b <= 126) and string.char(b))
      or ("\\%03d"):format(b)
  end
  local tail = #s > limit and ("...(%d bytes)"):format(#s) or ""
  return '"' .. table.concat(parts) .. '"' .. tail
end

function support.show(v)
  local kind = type(v)
  if kind == "string" then return show_string(v) end
  if kind == "number" then
    local subtype = math_type and ("<" .. math_type(v) .. ">") or ""
    return ("%.17g"):format(v) .. subtype
  end
  return tostring(v)
end

function support.show_args(n, ...)
  local args = { ... }
  local shown = {}
  for i = 1, n do shown[i] = support.show(args[i]) end
  return table.concat(shown, ", ")
end

-- Same type, same value and, on 5.3+, the same number subtype.
function support.same(a, b)
  if type(a) ~= type(b) then return false end
  if type(a) == "number" and math_type and math_type(a) ~= math_type(b) then
    return false
  end
  return a == b
end

-- An integer result: the integer subtype where there is one, never -0.
function support.is_integer(x)
  if type(x) ~= "number" then return false end
  if math_type then return math_type(x) == "integer" end
  return x == math.floor(x) and not (x == 0 and 1 / x < 0)
end

function support.pack(...)
  return { n = select("#", ...), ... }
end

---------------------------------------------------------------------------
-- Table-driven checks
---------------------------------------------------------------------------

-- Each row holds nargs arguments followed by the two expected results.
-- Every row is run through the model first (the rows pin the model down) and
-- then through the module; all failures are gathered into one message.
function support.check_rows(mime, name, nargs, rows)
  local failures = {}
  for _, impl in ipairs({ { "model", support.model }, { "module", mime } }) do
    local fn = impl[2][name]
    for index, row in ipairs(rows) do
      local got = support.pack(pcall(fn, unpack(row, 1, nargs)))
      local want1, want2 = row[nargs + 1], row[nargs + 2]
      local ok = got[1] and got.n == 3 and support.same(got[2], want1)
        and support.same(got[3], want2)
      if not ok then
        local shown = got[1]
          and (support.show(got[2]) .. ", " .. support.show(got[3])
            .. (got.n ~= 3 and (" (%d results)"):format(got.n - 1) or ""))
          or ("error: " .. tostring(got[2]))
        failures[#failures + 1] = ("%s row %d: %s(%s)\n    got  %s\n    want %s, %s"):format(
          impl[1], index, name, support.show_args(nargs, unpack(row, 1, nargs)),
          shown, support.show(want1), support.show(want2))
      end
    end
  end
  assert(#failures == 0, "\n" .. table.concat(failures, "\n"))
end

-- One test per case { title, rows } of a list, each checking its rows with
-- support.check_rows (or support.check_streams); `it` is the test runner's.
function support.row_tests(it, mime, name, nargs, cases)
  for _, case in ipairs(cases) do
    it(case[1], function() support.check_rows(mime, name, nargs, case[2]) end)
  end
end

function support.stream_tests(it, mime, name, cases)
  for _, case in ipairs(cases) do
    it(case[1], function() support.check_streams(mime, name, case[2]) end)
  end
end

---------------------------------------------------------------------------
-- Random data that is the same on every Lua version
---------------------------------------------------------------------------

-- Park-Miller minimal standard generator: products stay below 2^53, so the
-- sequence is exact with doubles and with 64-bit integers alike.
function support.random(seed)
  local state = seed % 2147483646 + 1
  local r = {}
  function r.next()
    state = state * 16807 % 2147483647
    return state
  end
  function r.int(low, high)
    return low + r.next() % (high - low + 1)
  end
  function r.pick(list)
    return list[r.int(1, #list)]
  end
  -- n bytes drawn from alphabet (a string), or from 0..255.
  function r.bytes(n, alphabet)
    local out = {}
    for i = 1, n do
      if alphabet then
        local k = r.int(1, #alphabet)
        out[i] = alphabet:sub(k, k)
      else
        out[i] = string.char(r.int(0, 255))
      end
    end
    return table.concat(out)
  end
  return r
end

---------------------------------------------------------------------------
-- Streaming
---------------------------------------------------------------------------

-- Splits data by the sizes given, cycling through them until it is used up.
-- Sizes of 0 give empty chunks.
function support.split(data, sizes)
  local chunks, at, index, idle = {}, 1, 1, 0
  while at <= #data do
    local size = sizes[index]
    index = index % #sizes + 1
    if size == 0 then
      idle = idle + 1
      if idle > #sizes then size = #data end -- a list of zeros only
    else
      idle = 0
    end
    chunks[#chunks + 1] = data:sub(at, at + size - 1)
    at = at + size
  end
  return chunks
end

local function call(fn, name, state, chunk, param)
  if support.HAS_PARAM[name] and param ~= nil then
    return support.pack(fn(state, chunk, param))
  end
  return support.pack(fn(state, chunk))
end

-- Feeds the chunks (a list of strings) through mime[name], passing each
-- carry or state back, and closes with a nil chunk. opts.state is the
-- starting carry or state ("" or 0 by default), opts.param the third argument.
-- Returns the whole output, the final state and the list of calls made.
function support.stream(mime, name, chunks, opts)
  opts = opts or {}
  local state = opts.state
  if state == nil then state = support.TWO_CHUNK[name] and "" or 0 end
  local out, calls = {}, {}
  for index = 1, #chunks + 1 do
    local chunk = chunks[index] -- nil after the last: end of stream
    local results = call(mime[name], name, state, chunk, opts.param)
    calls[#calls + 1] = { state = state, chunk = chunk, results = results }
    if results[1] ~= nil then out[#out + 1] = results[1] end
    state = results[2]
  end
  return table.concat(out), state, calls
end

-- The same, with data cut by support.split.
function support.feed(mime, name, data, sizes, opts)
  return support.stream(mime, name, support.split(data, sizes), opts)
end

-- Runs the module and the model side by side over the same chunks and
-- compares every call. Returns the output and final state, or raises with
-- a description of the first call where they part.
function support.lockstep(mime, name, chunks, opts, context)
  opts = opts or {}
  local state = opts.state
  if state == nil then state = support.TWO_CHUNK[name] and "" or 0 end
  local out = {}
  for index = 1, #chunks + 1 do
    local chunk = chunks[index] -- nil after the last: end of stream
    local got = call(mime[name], name, state, chunk, opts.param)
    local want = call(support.model[name], name, state, chunk, opts.param)
    if not (got.n == 2 and want.n == 2 and support.same(got[1], want[1])
        and support.same(got[2], want[2])) then
      error(("%s: call %d of %d differs\n  %s(%s)\n  module: %s, %s\n  model:  %s, %s"):format(
        context or name, index, #chunks + 1, name,
        support.show_args(support.HAS_PARAM[name] and 3 or 2, state, chunk, opts.param),
        support.show(got[1]), support.show(got[2]),
        support.show(want[1]), support.show(want[2])), 2)
    end
    if got[1] ~= nil then out[#out + 1] = got[1] end
    state = got[2]
  end
  return table.concat(out), state
end

-- Rows of { chunks, expected output, state = start, param = third argument }:
-- the model alone must give the expected output, and the module must agree
-- with the model on every call of the stream.
function support.check_streams(mime, name, rows)
  local failures = {}
  for index, row in ipairs(rows) do
    local opts = { state = row.state, param = row.param }
    local shown = {}
    for i, chunk in ipairs(row[1]) do shown[i] = support.show(chunk) end
    local context = ("row %d: %s over {%s}"):format(index, name, table.concat(shown, ", "))
    local modelled = support.stream(support.model, name, row[1], opts)
    if modelled ~= row[2] then
      failures[#failures + 1] = ("%s\n    model gives %s\n    want        %s"):format(
        context, support.show(modelled), support.show(row[2]))
    end
    local ok, result = pcall(support.lockstep, mime, name, row[1], opts, context)
    if not ok then
      failures[#failures + 1] = tostring(result)
    elseif result ~= row[2] then
      failures[#failures + 1] = ("%s\n    module gives %s\n    want         %s"):format(
        context, support.show(result), support.show(row[2]))
    end
  end
  assert(#failures == 0, "\n" .. table.concat(failures, "\n"))
end

-- What a mail writer does: encode chunk by chunk with mime[encoder], wrap
-- each piece with mime[wrapper], then flush the encoder and close the
-- wrapper. Returns the wrapped text.
function support.encode_wrapped(mime, encoder, wrapper, data, sizes, line_length)
  local encode, wrap = mime[encoder], mime[wrapper]
  local carry, room, out = "", line_length, {}
  local text, wrapped
  for _, chunk in ipairs(support.split(data, sizes)) do
    text, carry = encode(carry, chunk)
    wrapped, room = wrap(room, text, line_length)
    out[#out + 1] = wrapped
  end
  text = encode(carry, nil)
  if text then
    wrapped, room = wrap(room, text, line_length)
    out[#out + 1] = wrapped
  end
  out[#out + 1] = wrap(room, nil, line_length) or ""
  return table.concat(out)
end

-- The module called once on a whole input: Base64 wrapped at line_length (not
-- wrapped without one), and quoted-printable of the text with its line ends
-- made CR LF.
function support.whole_b64(mime, data, line_length)
  local encoded = mime.b64(data, nil) or ""
  if not line_length then return encoded end
  local wrapped, room = mime.wrp(line_length, encoded, line_length)
  return wrapped .. (mime.wrp(room, nil, line_length) or "")
end

function support.whole_qp(mime, data, line_length)
  local encoded = mime.qp((mime.eol(0, data)), nil) or ""
  local wrapped, room = mime.qpwrp(line_length, encoded, line_length)
  return wrapped .. (mime.qpwrp(room, nil, line_length) or "")
end

---------------------------------------------------------------------------
-- Locating the native module
---------------------------------------------------------------------------

-- The file that package.cpath resolves a module name to: the first template
-- whose file exists, in order.
function support.resolve_cpath(modname)
  local relative = modname:gsub("%.", "/")
  for template in package.cpath:gmatch("[^;]+") do
    local candidate = template:gsub("%?", relative)
    local file = io.open(candidate, "rb")
    if file then
      file:close()
      return candidate
    end
  end
  return nil
end

---------------------------------------------------------------------------
-- Files and the shell
---------------------------------------------------------------------------

-- Penlight's helpers (installed with busted) do the file and process work.
local pl_dir, pl_path, pl_utils = require "pl.dir", require "pl.path", require "pl.utils"

support.shell_quote = pl_utils.quote_arg

function support.read_file(path)
  return assert(pl_utils.readfile(path, true))
end

function support.write_file(path, data)
  assert(pl_utils.writefile(path, data, true))
end

-- Runs a shell command; returns its exit status, standard output and
-- standard error.
function support.run_shell(command)
  local _, status, stdout, stderr = pl_utils.executeex("(" .. command .. ")", true)
  return status, stdout, stderr
end

-- Temporary files and directories, holding data if given;
-- remove_temp_files removes them all.
local temporary = {}
function support.temp_file(data)
  local path = pl_path.tmpname()
  temporary[#temporary + 1] = path
  if data then support.write_file(path, data) end
  return path
end

function support.temp_directory()
  local path = support.temp_file()
  os.remove(path)
  assert(pl_dir.makepath(path))
  return path
end

function support.remove_temp_files()
  for _, path in ipairs(temporary) do
    if pl_path.isdir(path) then pl_dir.rmtree(path) else os.remove(path) end
  end
  temporary = {}
end

-- The environment for a child process that runs elsewhere: the module's
-- search paths made absolute, MIME_BUILD_DIR's module first.
local function absolute_search_path(list, first)
  local entries = { first }
  for entry in (list .. ";"):gmatch("(.-);") do
    entries[#entries + 1] = entry == "" and "" or pl_path.abspath(entry)
  end
  return table.concat(entries, ";")
end

-- The top of the repository: the tests run from there.
function support.child_root()
  return pl_path.currentdir()
end

-- MIME_BUILD_DIR goes along too, so that the examples and the tool, which
-- look for the checkout's build themselves, find the one under test.
local function build_directory()
  local build = os.getenv("MIME_BUILD_DIR")
  return build and build ~= "" and pl_path.abspath(build) or nil
end

local function checkout_variables()
  return ("MIME_BUILD_DIR=%s MIME_ROOT=%s MIME_LUA=%s"):format(
    pl_utils.quote_arg(build_directory() or ""), pl_utils.quote_arg(support.child_root()),
    pl_utils.quote_arg(support.interpreter_path()))
end

function support.child_environment()
  local build = build_directory()
  return ("LUA_CPATH=%s LUA_PATH=%s %s"):format(
    pl_utils.quote_arg(absolute_search_path(os.getenv("LUA_CPATH") or ";;",
      build and build .. "/?.so")),
    pl_utils.quote_arg(absolute_search_path(os.getenv("LUA_PATH") or ";;")),
    checkout_variables())
end

-- The environment of a user in the checkout, for commands run as written:
-- no search paths of the test run, only the build under test.
function support.checkout_environment()
  return "unset LUA_CPATH LUA_PATH LUA_INIT LUA_CPATH_5_2 LUA_PATH_5_2 LUA_INIT_5_2"
    .. " LUA_CPATH_5_3 LUA_PATH_5_3 LUA_INIT_5_3 LUA_CPATH_5_4 LUA_PATH_5_4 LUA_INIT_5_4; "
    .. checkout_variables()
end

-- Runs a transcript (test/*.t) with cram in a scratch directory; raises with
-- cram's difference when the commands do not give what it shows.
function support.run_transcript(transcript)
  local directory = support.temp_directory()
  local copy = pl_path.join(directory, pl_path.basename(transcript))
  support.write_file(copy, support.read_file(transcript))
  local status, stdout, stderr = support.run_shell(("cd %s && %s cram3 --shell=/bin/sh %s"):format(
    pl_utils.quote_arg(directory), support.child_environment(), pl_utils.quote_arg(copy)))
  assert(status == 0, ("%s: cram exit status %s\n%s%s"):format(transcript, tostring(status),
    stdout, stderr))
end

-- Raises unless the two are equal; a difference in long data is reported by
-- its first differing byte rather than by printing the data.
function support.assert_same(expected, actual, what)
  if expected == actual then return end
  if type(expected) ~= "string" or type(actual) ~= "string" then
    error(("%s: expected %s, given %s"):format(what or "values differ",
      support.show(expected), support.show(actual)), 2)
  end
  local first = 1
  while expected:byte(first) == actual:byte(first) do first = first + 1 end
  local function stretch(data)
    return (data:sub(math.max(1, first - 8), first + 8):gsub("[%c\128-\255]", function(c)
      return ("\\%d"):format(c:byte())
    end))
  end
  error(("%s: %d bytes expected, %d given; first difference at byte %d:\n"
    .. "  expected ...%s...\n  given    ...%s..."):format(what or "data differs", #expected,
    #actual, first, stretch(expected), stretch(actual)), 2)
end

function support.realpath(file)
  local status, resolved = support.run_shell("realpath -- " .. pl_utils.quote_arg(file) .. " 2>/dev/null")
  return status == 0 and resolved:gsub("\n$", "") or nil
end

-- The interpreter running these tests, to start a fresh Lua state with.
function support.interpreter()
  local chosen = os.getenv("MIME_LUA")
  if chosen and chosen ~= "" then return chosen end
  local lowest, index = nil, -1
  while arg and arg[index] ~= nil do
    lowest = arg[index]
    index = index - 1
  end
  if lowest and not lowest:find("^%-") then return lowest end
  if jit then return "luajit" end
  return "lua" .. _VERSION:match("%d+%.%d+")
end

-- The same, as a path that works from any directory.
function support.interpreter_path()
  local interpreter = support.interpreter()
  if interpreter:find("/", 1, true) then return pl_path.abspath(interpreter) end
  local status, found = support.run_shell("command -v " .. pl_utils.quote_arg(interpreter))
  assert(status == 0, "cannot find " .. interpreter)
  return (found:gsub("\n$", ""))
end

return support
