-- Every code block of README.md and of docs/*.md runs here, in order, in one
-- scratch directory that holds the files the blocks name, the repository's
-- bin/ and examples/, and a "lua" that starts MIME_LUA. The blocks run
-- as a user in the checkout types them: without the search paths of the test
-- run, the examples and the tool finding the build under test by themselves
-- (MIME_BUILD_DIR), Lua blocks with the LUA_INIT that the README gives for
-- scripts of one's own. Later blocks may use what earlier ones made. Each
-- kind of block has its runner in RUNNERS:
--   lua      runs as a script; what it prints must be its "--> " notes
--   sh       must succeed without a word on standard error
--   console  each "$ command" must print the lines after it (CRs removed)
--   text     the tool's --help
-- docs/api.md must name every function that each module exports.

local mime = require "mime.core"

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local quote, read_file, write_file = support.shell_quote, support.read_file, support.write_file

local DOCUMENTS = { "README.md", "docs/api.md", "docs/tool.md", "docs/performance.md",
  "docs/design.md" }
local blocks = {}
for _, document in ipairs(DOCUMENTS) do
  local number = 0
  for kind, body in read_file(document):gmatch("\n```(%w*)\n(.-)\n```\n") do
    number = number + 1
    blocks[#blocks + 1] = { document = document, number = number, kind = kind,
      body = body .. "\n" }
  end
end

local sample = dofile("examples/sample_content.lua")
local FILES = {
  ["photo.jpg"] = support.random(3).bytes(100000),
  ["letter.txt"] = sample.text .. string.rep("A long line. ", 20) .. "\n",
  ["dos.txt"] = "one\r\ntwo\r\n\r\nfour\r\n",
  ["message.txt"] = "Subject: dots\n\n.\n..\nend\n",
}

local directory

-- Runs a command in the scratch directory, with the environment variables
-- given. Returns the exit status, standard output and standard error.
local function shell(command, variables)
  return support.run_shell(("cd %s && { %s %s PATH=%s:\"$PATH\" sh -c %s; }"):format(
    quote(directory), support.checkout_environment(), variables or "",
    quote(directory .. "/shim"), quote(command)))
end

local function lines_of(text)
  local lines = {}
  for line in text:gmatch("([^\n]*)\n") do lines[#lines + 1] = line end
  return lines
end

local RUNNERS = {}

function RUNNERS.lua(body, number)
  local script = "block" .. number .. ".lua"
  write_file(directory .. "/" .. script, body)
  local notes = {}
  for _, line in ipairs(lines_of(body)) do
    local shown = line:match("^%s*print%(.*%-%-> (.*)$")
    if shown then notes[#notes + 1] = shown .. "\n" end
  end
  local status, stdout, stderr = shell("lua " .. script,
    "LUA_INIT=" .. quote("@" .. support.child_root() .. "/tools/module_paths.lua"))
  assert.are.equal("", stderr)
  assert.are.equal(0, status)
  assert.are.equal(table.concat(notes), stdout)
end

function RUNNERS.sh(body)
  local status, stdout, stderr = shell("set -e\n" .. body)
  assert.are.equal("", stderr)
  assert.are.equal(0, status, stdout)
end

function RUNNERS.console(body)
  local commands = {}
  for _, line in ipairs(lines_of(body)) do
    local command = line:match("^%$ (.*)$")
    if command then
      commands[#commands + 1] = { command = command, expected = "" }
    else
      assert.truthy(commands[1], "output before the first command")
      local last = commands[#commands]
      last.expected = last.expected .. line .. "\n"
    end
  end
  for _, entry in ipairs(commands) do
    local _, stdout = shell(entry.command .. " 2>&1")
    assert.are.equal(entry.expected, (stdout:gsub("\r", "")), entry.command)
  end
end

function RUNNERS.text(body)
  local status, stdout = shell("lua bin/mimefilter --help")
  assert.are.equal(0, status)
  assert.are.equal(body, stdout)
end

describe("README.md and docs/ #shell", function()
  setup(function()
    directory = support.temp_directory()
    for name, data in pairs(FILES) do write_file(directory .. "/" .. name, data) end
    local lua = support.interpreter_path()
    local root = quote(support.child_root())
    -- (Only folders without subfolders: the clean-up would follow a link into them.)
    assert.are.equal(0, (support.run_shell(("mkdir %s && ln -s %s/bin %s/examples %s")
      :format(quote(directory .. "/shim"), root, root, quote(directory)))))
    write_file(directory .. "/shim/lua", "#!/bin/sh\nexec " .. quote(lua) .. ' "$@"\n')
    assert.are.equal(0, (support.run_shell("chmod +x " .. quote(directory .. "/shim/lua"))))
  end)

  teardown(support.remove_temp_files)

  it("has blocks of every kind", function()
    local kinds = {}
    for _, block in ipairs(blocks) do kinds[block.kind] = true end
    assert.are.same({ lua = true, sh = true, console = true, text = true }, kinds)
  end)

  for index, block in ipairs(blocks) do
    it(("%s block %d (%s) does what it shows"):format(block.document, block.number, block.kind),
      function()
        local run = RUNNERS[block.kind]
        assert.truthy(run, "no runner for blocks of kind '" .. block.kind .. "'")
        run(block.body, index)
      end)
  end

  it("names in docs/api.md every function each module exports", function()
    local api = read_file("docs/api.md")
    for _, name in ipairs({ "mime.core", "mime.stream", "mime.header" }) do
      local section = api:match("\n## `" .. name:gsub("%.", "%%.") .. "`.-\n(.-)\n## ") or
        api:match("\n## `" .. name:gsub("%.", "%%.") .. "`.-\n(.*)$")
      assert.truthy(section, "docs/api.md has no section for " .. name)
      for key, value in pairs(require(name)) do
        if type(value) == "function" then
          assert.truthy(section:find("%f[%w_]" .. key .. "%("),
            ("docs/api.md, %s: no %s(...)"):format(name, key))
        end
      end
    end
  end)

  it("shows round trips that really give back the input", function()
    local function made(name) return read_file(directory .. "/" .. name) end
    local photo, letter = FILES["photo.jpg"], FILES["letter.txt"]
    support.assert_same(photo, made("photo-copy.jpg"))
    support.assert_same(support.whole_b64(mime, photo, 76), made("photo.b64"))
    support.assert_same(support.whole_b64(mime, photo, 76), made("photo-wrapped.b64"))
    support.assert_same(support.whole_qp(mime, letter, 72), made("letter.qp"))
    assert.are.equal((mime.eol(0, letter)), made("letter-crlf.txt"))
    assert.are.equal("one\ntwo\n\nfour\n", made("unix.txt"))
    assert.are.equal("Subject: dots\r\n\r\n..\r\n...\r\nend\r\n.\r\n", made("message.data"))
  end)
end)
