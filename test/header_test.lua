-- mime.header: encoded words and parameter values, written and read back.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local header = require "mime.header"

local show = support.show

-- True if s is a row of whole UTF-8 sequences.
local function whole_utf8(s)
  local i = 1
  while i <= #s do
    local lead = s:byte(i)
    local length = lead < 0x80 and 1 or lead >= 0xC2 and lead <= 0xDF and 2
      or lead >= 0xE0 and lead <= 0xEF and 3 or lead >= 0xF0 and lead <= 0xF4 and 4
    if not length then return false end
    for k = 1, length - 1 do
      local continuation = s:byte(i + k)
      if not continuation or continuation < 0x80 or continuation > 0xBF then return false end
    end
    i = i + length
  end
  return true
end

-- Random text of `count` pieces: ASCII words, spaces, specials, look-alikes
-- of encoded words and characters of two, three and four bytes.
local PIECES = { "a", "Zo", "word", "0", " ", "  ", "=?", "?=", "_", "=", "?", "(", ")", '"', "<",
  ",", ".", ";", ":", "/", "\\", "'", "%", "*", "\195\169", "\195\159", "\226\130\172",
  "\240\159\152\128", "\230\151\165\230\156\172", "=?utf-8?q?x?=", "\t" }
local function random_text(random, count, pieces)
  local parts = {}
  for i = 1, count do parts[i] = random.pick(pieces or PIECES) end
  return table.concat(parts)
end

-- Rows of { arguments..., expected results... }; `arity` arguments. A table
-- result is compared field by field.
local function check_rows(fn, arity, rows)
  local failures = {}
  for index, row in ipairs(rows) do
    local got = support.pack(fn(support.unpack(row, 1, arity)))
    for k = arity + 1, #row do
      local want, given = row[k], got[k - arity]
      local same = want == given
      if type(want) == "table" then same = pcall(assert.are.same, want, given) end
      if not same then
        failures[#failures + 1] = ("row %d (%s): result %d is %s"):format(index, show(row[1]),
          k - arity, type(given) == "table" and "a table unlike the row's" or show(given))
      end
    end
  end
  assert(#failures == 0, "\n" .. table.concat(failures, "\n"))
end

describe("mime.header.encode", function()
  it("leaves ASCII words as they are and encodes the rest", function()
    check_rows(header.encode, 2, {
      { "Hello, world", nil, "Hello, world" },
      { "", nil, "" },
      { "x  ", nil, "x  " },
      -- B or Q, whichever is shorter, per run
      { "Gr\195\188\195\159e an J\195\182rg", nil,
        "=?UTF-8?B?R3LDvMOfZQ==?= an =?UTF-8?B?SsO2cmc=?=" },
      { "Z\195\188rich", nil, "=?UTF-8?Q?Z=C3=BCrich?=" },
      -- the space between two encoded words travels inside one
      { "Gr\195\188\195\159e J\195\182rg", { encoding = "Q" },
        "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_J=C3=B6rg?=" },
      { "Gr\195\188\195\159e J\195\182rg", { encoding = "b" }, "=?UTF-8?B?R3LDvMOfZSBKw7ZyZw==?=" },
      { "a  \195\169  b", nil, "a =?UTF-8?Q?_=C3=A9_?= b" },
      -- Q keeps letters, digits and !*+-/ only
      { '\195\169(a=b?c_d"e) +!*-/', { encoding = "Q" },
        "=?UTF-8?Q?=C3=A9=28a=3Db=3Fc=5Fd=22e=29?= +!*-/" },
      -- text that looks like an encoded word, controls, leading white space
      { "=?x?=", nil, "=?UTF-8?B?PT94Pz0=?=" },
      { "a =?utf-8?q?b?= c", nil, "a =?UTF-8?B?PT91dGYtOD9xP2I/PQ==?= c" },
      { "a\tb\r\nc", nil, "=?UTF-8?B?YQliDQpj?=" },
      { "  x", nil, "=?UTF-8?Q?__x?=" },
      { "   ", nil, "=?UTF-8?Q?___?=" },
      -- "(", ")" and "\" next to an encoded word join it
      { "(1) \195\169 (2)", nil, "=?UTF-8?B?KDEpIMOpICgyKQ==?=" },
      { "caf\233", { charset = "ISO-8859-1", encoding = "Q" }, "=?ISO-8859-1?Q?caf=E9?=" },
      { "\255\195 ok", { encoding = "Q" }, "=?UTF-8?Q?=FF=C3?= ok" },
    })
  end)

  it("folds with CR LF and a space, counting the field name", function()
    local x80 = ("x"):rep(80)
    check_rows(header.encode, 2, {
      { "one two three four five six", { name = "Subject", line_length = 20 },
        "one two\r\n three four five six" },
      { x80, { name = "Subject" }, x80 },
      { "a " .. x80, nil, "a\r\n " .. x80 },
      { "a  b", { line_length = 2 }, "a \r\n b" },
      { ("\195\188"):rep(30), { name = "Subject" },
        "=?UTF-8?B?w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7zDvMO8w7w=?=\r\n"
        .. " =?UTF-8?B?w7zDvMO8w7zDvMO8w7zDvMO8w7zDvA==?=" },
      { ("\226\130\172"):rep(4), { encoding = "Q", line_length = 40 },
        "=?UTF-8?Q?=E2=82=AC=E2=82=AC=E2=82=AC?=\r\n =?UTF-8?Q?=E2=82=AC?=" },
    })
  end)

  it("keeps every line and word within its limit and reads back", function()
    local random = support.random(2047)
    local names = { false, "To", "Subject", "X-A-Rather-Long-Field-Name" }
    local ascii_only = { "a", "Zo", "word", " ", ",", "=", "?" }
    for _, count in ipairs({ 0, 1, 3, 10, 40, 120, 400 }) do
      for _, name in ipairs(names) do
        -- (a first line with room for less than one encoded word holds one anyway)
        for _, line_length in ipairs(name and #name > 10 and { 76, 100 } or { 76, 40, 100 }) do
          for _, encoding in ipairs({ false, "B", "Q" }) do
            local value = random_text(random, count, count == 40 and ascii_only or nil)
            local text = header.encode(value,
              { name = name or nil, line_length = line_length, encoding = encoding or nil })
            local context = ("%s with %s, %d, %s"):format(show(value), tostring(name), line_length,
              tostring(encoding))
            local decoded = header.decode(text)
            assert(decoded == value, context .. " reads back as " .. show(decoded))
            local first, number = name and #name + 2 or 0, 0
            for line in (text .. "\r\n"):gmatch("(.-)\r\n") do
              number = number + 1
              local alone = line:match("^ ?([^ ]+)$") -- an ASCII word longer than a line
              assert(first + #line <= line_length or alone and not alone:find("=?", 1, true),
                context .. ": line too long: " .. show(line))
              assert(number == 1 or line:find("^ [^ ]"), context .. ": not one space after a fold")
              first = 0
            end
            assert(not text:gsub("\r\n ", ""):find("[\r\n]"), context .. ": stray line end")
            for word, payload in text:gmatch("(=%?UTF%-8%?[BQ]%?([^?]*)%?=)") do
              assert(#word <= 75, context .. ": word too long: " .. word)
              assert(whole_utf8(header.decode(word)), context .. ": split character in " .. word)
              assert(payload ~= "", context .. ": empty word")
            end
          end
        end
      end
    end
  end)
end)

describe("mime.header.decode", function()
  it("reads RFC 2047's examples and other mailers' output", function()
    check_rows(header.decode, 1, {
      { "=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>", "Keith Moore <moore@cs.utk.edu>",
        { "US-ASCII" } },
      { "=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>",
        "Keld J\248rn Simonsen <keld@dkuug.dk>", { "ISO-8859-1" } },
      { "=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>",
        "Andr\233 Pirard <PIRARD@vm1.ulg.ac.be>", { "ISO-8859-1" } },
      { "=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=\r\n"
        .. "    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?=",
        "If you can read this you understand the example.", { "ISO-8859-1", "ISO-8859-2" } },
      { "Nathaniel Borenstein <nsb@thumper.bellcore.com>\r\n    (=?iso-8859-8?b?7eXs+SDv4SDp7Oj08A==?=)",
        "Nathaniel Borenstein <nsb@thumper.bellcore.com>    "
        .. "(\237\229\236\249 \239\225 \233\236\232\244\240)", { "iso-8859-8" } },
      { "Time for ISO 10646?", "Time for ISO 10646?", {} },
      { "(=?ISO-8859-1?Q?a?=)", "(a)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a?= b)", "(a b)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)", "(ab)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)", "(ab)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)", "(ab)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a_b?=)", "(a b)", { "ISO-8859-1" } },
      { "(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)", "(a b)", { "ISO-8859-1", "ISO-8859-2" } },
      -- other mailers: lower case, a language, characters split across words,
      -- LF folds, tabs, quoted display names, charsets met twice
      { "=?utf-8?q?Gr=c3=bc=C3=9Fe?=", "Gr\195\188\195\159e", { "utf-8" } },
      { "=?UTF-8*en?Q?hello?= =?utf-8?B?w7Y=?= =?UTF-8?b?w7Y?=", "hello\195\182\195\182",
        { "UTF-8" } },
      { "=?UTF-8?Q?=C3?= =?UTF-8?Q?=B6?=", "\195\182", { "UTF-8" } },
      { "=?UTF-8?B?w6E=?=\n\t=?UTF-8?B?w6E=?=\r\n end", "\195\161\195\161 end", { "UTF-8" } },
      { '"=?UTF-8?Q?J=C3=B6rg?=" <j@example.org>', '"J\195\182rg" <j@example.org>', { "UTF-8" } },
      { "a =?UTF-8?Q?b?= \t c", "a b \t c", { "UTF-8" } },
      -- malformed words stay as they stand, and part adjacent words
      { "=?UTF-8?B?a?= =?UTF-8?B?QQ=A?= =?UTF-8?Q?=ZZ?= =?UTF-8?X?a?=",
        "=?UTF-8?B?a?= =?UTF-8?B?QQ=A?= =?UTF-8?Q?=ZZ?= =?UTF-8?X?a?=", {} },
      { "=??Q?a?= =?*en?Q?a?= =?UTF-8?Q?a b?= =?UTF-8?Q?a?",
        "=??Q?a?= =?*en?Q?a?= =?UTF-8?Q?a b?= =?UTF-8?Q?a?", {} },
      { "=?UTF-8?Q?a?= =?UTF-8?B?a?= =?UTF-8?Q?b?=", "a =?UTF-8?B?a?= b", { "UTF-8" } },
      { "a\r\nb", "a\r\nb", {} },
    })
  end)
end)

describe("mime.header parameters", function()
  it("writes a token, a quoted string or RFC 2231 sections", function()
    local long = ("\195\188"):rep(30)
    check_rows(header.encode_param, 2, {
      { "filename", "report.pdf", "filename=report.pdf" },
      { "filename", "", 'filename=""' },
      { "filename", 'my "big" \\ file.pdf', 'filename="my \\"big\\" \\\\ file.pdf"' },
      { "filename", "100%*'", "filename=\"100%*'\"" },
      { "filename", "Gr\195\188\195\159e.pdf", "filename*=UTF-8''Gr%C3%BC%C3%9Fe.pdf" },
      { "name", "a\tb", "name*=UTF-8''a%09b" },
      { "filename", long, "filename*0*=UTF-8''" .. ("%C3%BC"):rep(9)
        .. ";\r\n filename*1*=" .. ("%C3%BC"):rep(10) .. ";\r\n filename*2*=" .. ("%C3%BC"):rep(10)
        .. ";\r\n filename*3*=%C3%BC" },
      { "filename", ("a"):rep(70), "filename*0*=UTF-8''" .. ("a"):rep(55) .. ";\r\n filename*1*="
        .. ("a"):rep(15) },
    })
  end)

  it("reads the value and the parameters", function()
    local v = "\195\188"
    check_rows(header.decode_params, 1, {
      { "text/plain", "text/plain", {} },
      { ' Text/Plain ; Charset="utf-8" ; FORMAT=flowed', "Text/Plain",
        { charset = "utf-8", format = "flowed" } },
      { 'attachment; filename="a \\"b\\" \\\\c"; size=12', "attachment",
        { filename = 'a "b" \\c', size = "12" } },
      { "attachment; filename*=utf-8''Gr%C3%BC%C3%9Fe.pdf", "attachment",
        { filename = "Gr\195\188\195\159e.pdf" } },
      { "attachment; filename*=UTF-8'en'%E2%82%AC; x*=\"UTF-8''%C3%BC\"", "attachment",
        { filename = "\226\130\172", x = v } },
      { "attachment;\r\n filename*0*=utf-8''Gr%C3%BC%C3%9Fe%20und;\r\n filename*1*=er%20x.pdf",
        "attachment", { filename = "Gr\195\188\195\159e under x.pdf" } },
      { "attachment; filename*1*=%C3%BC; filename*0*=UTF-8''%C3; name*0=\"a b\"; name*1=c",
        "attachment", { filename = "\195\195\188", name = "a bc" } },
      { "attachment; filename=plain.pdf; filename*=UTF-8''%C3%BC", "attachment", { filename = v } },
      { "attachment;\n\tfilename=\"a\n b\"", "attachment", { filename = "a b" } },
      { "attachment; filename*=UTF-8''100%; name=\"open; x=1", "attachment",
        { filename = "100%", name = "open; x=1" } },
      { "a;;b;c=;=d; e = f ", "a", { b = "", c = "", e = "f" } },
    })
  end)

  it("round-trips values of every length, one line a section", function()
    local random = support.random(2231)
    for _, count in ipairs({ 1, 2, 5, 12, 30, 80, 200 }) do
      for _, name in ipairs({ "name", "filename", "x-a-rather-long-parameter-name" }) do
        local value = random_text(random, count)
        local text = header.encode_param(name, value)
        local _, params = header.decode_params("attachment;\r\n " .. text)
        assert(params[name] == value, show(value) .. " reads back as " .. show(params[name]))
        for section in (text .. ";\r\n "):gmatch("(.-);\r\n ") do
          assert(1 + #section + 1 <= 76, "section too long: " .. section)
          local payload = section:match("^[^=]*%*=(.*)$")
          if payload then
            assert(not payload:gsub("%%%x%x", ""):find("%", 1, true), "split escape: " .. section)
            assert(whole_utf8(payload:gsub("^UTF%-8''", ""):gsub("%%(%x%x)", function(hex)
              return string.char(tonumber(hex, 16))
            end)), "split character: " .. section)
          end
        end
      end
    end
  end)
end)

describe("mime.header arguments", function()
  it("raise errors that name the argument", function()
    local argument = "bad argument #%d to '%s' (string expected, got %s)"
    local rows = {
      { header.encode, { 12 }, argument:format(1, "encode", "number") },
      { header.encode, { nil }, argument:format(1, "encode", "no value") },
      { header.encode, { "x", "B" }, "bad argument #2 to 'encode' (table expected, got string)" },
      { header.encode, { "x", { encoding = "U" } }, 'options.encoding must be "B" or "Q", got U' },
      { header.encode, { "x", { charset = "a?b" } }, "options.charset must be a charset name" },
      { header.encode, { "x", { line_length = 0 } }, "options.line_length must be a whole number" },
      { header.encode, { "x", { line_length = 0 / 0 } }, "options.line_length must be a whole" },
      { header.encode, { "x", { name = "Subject:" } }, "options.name must be a field name" },
      { header.decode, { {} }, argument:format(1, "decode", "table") },
      { header.encode_param, { "file name", "x" }, "#1 to 'encode_param' (parameter name must be" },
      { header.encode_param, { "name*", "x" }, "#1 to 'encode_param' (parameter name must be" },
      { header.encode_param, { "name", false }, argument:format(2, "encode_param", "boolean") },
      { header.decode_params, { nil }, argument:format(1, "decode_params", "no value") },
    }
    for index, row in ipairs(rows) do
      local ok, message = pcall(function() return (row[1](support.unpack(row[2], 1, 2))) end)
      assert(not ok and message:find(row[3], 1, true), ("row %d: %s"):format(index, tostring(message)))
      assert(message:find("^[^:]*header_test%.lua:%d+:"), ("row %d blames %s"):format(index, message))
    end
  end)
end)

-- Python's email package on the other side: its readers get back every value
-- encode and encode_param write, and what its writers fold reads here as it
-- reads there. Needs python3.
describe("mime.header with Python's email package #python3 #slow", function()
  it("reads back each other's fields", function()
    local function hex(s) return (s:gsub(".", function(c) return ("%02x"):format(c:byte()) end)) end
    local function unhex(s)
      return (s:gsub("..", function(x) return string.char(tonumber(x, 16)) end))
    end
    local random, lines = support.random(822), {}
    local names, encodings = { false, "Subject", "X-A-Rather-Long-Field-Name" }, { false, "B", "Q" }
    local param_pieces = { "a", "Zo", " ", "(", '"', "=?", "'", "%", "*", ";", "\\", "\195\169",
      "\226\130\172", "\240\159\152\128" }
    for i = 1, 240 do
      local value = random_text(random, i % 50)
      local options = { name = random.pick(names) or nil, encoding = random.pick(encodings) or nil }
      lines[#lines + 1] = ("text\t%s\t%s\n"):format(hex(value), hex(header.encode(value, options)))
      -- Python's readers trim a file name and take the quotes off one that has them
      local name = random_text(random, i % 40 + 1, param_pieces):match("^%s*(.-)%s*$") .. "x"
      lines[#lines + 1] =
        ("param\t%s\t%s\n"):format(hex(name), hex(header.encode_param("filename", name)))
    end
    local status, stdout, stderr = support.run_shell(("python3 %s 2047 120 < %s"):format(
      support.shell_quote(here .. "python_email.py"),
      support.shell_quote(support.temp_file(table.concat(lines)))))
    support.remove_temp_files()
    assert(status == 0, "python3 failed: " .. stderr)
    local failures, count = {}, 0
    for line in stdout:gmatch("[^\n]+") do
      local kind, expected, body = line:match("^(%a+)\t(%x*)\t(%x*)$")
      if not kind then
        failures[#failures + 1] = line
      else
        count = count + 1
        expected, body = unhex(expected), unhex(body)
        local given
        if kind == "text" then
          given = header.decode(body)
        else
          local _, params = header.decode_params(body)
          given = params.filename
        end
        if given ~= expected then
          failures[#failures + 1] =
            ("%s %s reads as %s, not %s"):format(kind, show(body), show(given), show(expected))
        end
      end
    end
    assert(count == 600 and #failures == 0,
      "\n" .. table.concat(failures, "\n", 1, math.min(#failures, 20)))
  end)
end)
