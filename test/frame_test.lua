-- Loading the module: the table it fills, what it keeps, where it comes from.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local mime = require "mime.core"

-- Runs a script in a fresh interpreter of the same kind, with the same
-- cpath, and returns what it printed.
local function run_fresh(body)
  local script = os.tmpname()
  local file = assert(io.open(script, "w"))
  file:write(("package.cpath = %q\n"):format(package.cpath))
  file:write(("local module_file = %q\n"):format(support.resolve_cpath("mime.core") or ""))
  file:write(body)
  file:close()
  local pipe = io.popen(support.shell_quote(support.interpreter()) .. " "
    .. support.shell_quote(script) .. " 2>&1")
  local output = pipe:read("*a")
  pipe:close()
  os.remove(script)
  return (output:gsub("%s+$", ""))
end

describe("module frame", function()
  it("carries its version and the eight native filters", function()
    assert.are.equal("MIME 1.0.3", rawget(mime, "_VERSION"))
    for _, name in ipairs(support.NAMES) do
      assert.are.equal("function", type(mime[name]), name)
      assert.are.equal("C", debug.getinfo(mime[name], "S").what, name)
    end
  end)

  it("is the table published as mime", function()
    assert.are.equal(mime, package.loaded["mime.core"])
    assert.are.equal(mime, package.loaded.mime)
  end)

  it("loads from the build tree under test", function()
    local file = support.resolve_cpath("mime.core")
    assert.is_not_nil(file, "mime/core not found on package.cpath: " .. package.cpath)
    local build = os.getenv("MIME_BUILD_DIR")
    if build and build ~= "" then
      local real_file, real_build = support.realpath(file), support.realpath(build)
      assert.is_not_nil(real_build, "MIME_BUILD_DIR does not exist: " .. build)
      assert.are.equal(real_build .. "/", real_file:sub(1, #real_build + 1),
        ("loaded %s, expected a file under %s"):format(real_file, real_build))
    end
  end)

  -- Each case runs in its own interpreter so that the globals and
  -- package.loaded it sets up are the only ones the opening sees.
  local fresh_cases = {
    {
      "hands the loader exactly one value, the table",
      [[
        local open = assert(package.loadlib(module_file, "luaopen_mime_core"))
        local results = { n = select("#", open("mime.core")), open("mime.core") }
        print(results.n, results[1] == mime, results[1]._VERSION)
      ]],
      "1\ttrue\tMIME 1.0.3",
    },
    {
      "creates the global mime when there is none",
      [[
        local t = require "mime.core"
        print(t == rawget(_G, "mime"), t == package.loaded.mime, t._VERSION)
      ]],
      "true\ttrue\tMIME 1.0.3",
    },
    {
      "fills an existing global mime and keeps its fields",
      [[
        local before = { keep = "kept", b64 = "replaced" }
        mime = before
        local t = require "mime.core"
        print(t == before, t.keep, type(t.b64), t._VERSION, package.loaded.mime == before)
      ]],
      "true\tkept\tfunction\tMIME 1.0.3\ttrue",
    },
    {
      "prefers the table already in package.loaded.mime",
      [[
        local before = { keep = 7 }
        package.loaded.mime = before
        local t = require "mime.core"
        print(t == before, t.keep, type(t.unqp), rawget(_G, "mime") == nil)
      ]],
      "true\t7\tfunction\ttrue",
    },
    {
      "sets _VERSION without running __newindex",
      [[
        local seen = {}
        mime = setmetatable({}, { __newindex = function(t, k, v)
          seen[k] = true
          rawset(t, k, v)
        end })
        require "mime.core"
        print(rawget(mime, "_VERSION"), seen._VERSION == nil)
      ]],
      "MIME 1.0.3\ttrue",
    },
    {
      "fails to load over a global mime that is not a table",
      [[
        mime = 5
        print(pcall(require, "mime.core") == false, mime)
      ]],
      "true\t5",
    },
  }

  for _, case in ipairs(fresh_cases) do
    it(case[1], function()
      assert.are.equal(case[3], run_fresh(case[2]))
    end)
  end
end)
