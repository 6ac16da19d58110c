-- What may differ between Lua versions: how the module table is found and
-- registered, integer results, and numbers taken in the version's string form.
local interpreter = os.getenv("MIME_LUA") or "lua5.1"

-- Runs `script` in a fresh interpreter with the module on its path; returns
-- true and the printed text, or false and the error output.
local function fresh_state(script)
  local source = os.tmpname()
  local file = assert(io.open(source, "w"))
  file:write(script)
  file:close()
  local pipe = assert(io.popen(interpreter .. " " .. source .. " 2>&1; echo \"exit:$?\""))
  local output = pipe:read("*a")
  pipe:close()
  os.remove(source)
  local text, status = output:match("^(.-)exit:(%d+)%s*$")
  return status == "0", text
end

describe("loading the module", function()
  local cases = {
    {
      name = "without a mime table, creates the global and stores it in package.loaded",
      script = [[
        local t = require "mime.core"
        assert(t == _G.mime and t == package.loaded.mime and t == package.loaded["mime.core"])
        print(t._VERSION, type(t.b64))
      ]],
      printed = "MIME 1.0.3\tfunction\n",
    },
    {
      name = "with a global mime table, adds to it and keeps its fields",
      script = [[
        mime = { kept = "yes", b64 = "replaced" }
        local g = mime
        local t = require "mime.core"
        assert(t == g and package.loaded.mime == g)
        print(t.kept, type(t.b64), t._VERSION)
      ]],
      printed = "yes\tfunction\tMIME 1.0.3\n",
    },
    {
      name = "with package.loaded.mime, uses that table and leaves the global alone",
      script = [[
        local loaded = { from = "loaded" }
        package.loaded.mime = loaded
        mime = { from = "global" }
        local t = require "mime.core"
        assert(t == loaded and rawget(mime, "b64") == nil)
        print(t.from, type(t.unqp))
      ]],
      printed = "loaded\tfunction\n",
    },
    {
      name = "sets _VERSION with a raw set, past a __newindex metamethod",
      script = [[
        local seen = {}
        mime = setmetatable({}, { __newindex = function(t, k, v) seen[#seen + 1] = k; rawset(t, k, v) end })
        local t = require "mime.core"
        for _, k in ipairs(seen) do assert(k ~= "_VERSION") end
        print(rawget(t, "_VERSION"), #seen)
      ]],
      printed = "MIME 1.0.3\t8\n",
    },
    {
      name = "returns exactly one value to the loader",
      script = [[
        package.cpath = package.cpath
        local path = package.searchpath and package.searchpath("mime.core", package.cpath)
        if not path then
          for template in package.cpath:gmatch("[^;]+") do
            local candidate = template:gsub("%?", "mime/core")
            local f = io.open(candidate, "rb")
            if f then f:close(); path = candidate; break end
          end
        end
        local open = assert(package.loadlib(path, "luaopen_mime_core"))
        print(select("#", open("mime.core")))
      ]],
      printed = "1\n",
    },
  }
  for _, case in ipairs(cases) do
    it(case.name, function()
      local ok, text = fresh_state(case.script)
      assert.is_true(ok, text)
      assert.are.equal(case.printed, text)
    end)
  end

  it("refuses a global mime that is not a table", function()
    local ok, text = fresh_state([[ mime = 42; require "mime.core" ]])
    assert.is_false(ok)
    assert.truthy(text:find("name conflict for module 'mime'", 1, true), text)
  end)
end)

describe("numbers across versions", function()
  local mime = require "mime.core"
  local integer_type = math.type

  it("returns states as integers where Lua has them", function()
    local calls = {
      { mime.wrp, 76, "abc" }, { mime.wrp, 2.9, "abc", 2 }, { mime.qpwrp, 76, "a=41" },
      { mime.eol, 13.5, "" }, { mime.dot, 2, "x" }, { mime.wrp, 5, nil },
      { mime.qpwrp, 10, nil, 76.9 }, { mime.eol, 0, nil }, { mime.dot, 1, nil },
    }
    for _, call in ipairs(calls) do
      local _, state = call[1](call[2], call[3], call[4])
      assert.are.equal("number", type(state))
      assert.are.equal(math.floor(state), state)
      if integer_type then assert.are.equal("integer", integer_type(state)) end
    end
  end)

  it("takes a number chunk or carry in the version's own string form", function()
    local numbers = { 1, -0.5, 1.5, 2 ^ 53, 1e300, 12345678901234 }
    if integer_type then numbers[#numbers + 1] = math.tointeger(7) end
    for _, n in ipairs(numbers) do
      local text = tostring(n)
      assert.are.equal(mime.b64(text, nil), mime.b64(n, nil))
      assert.are.equal(mime.b64("", text), mime.b64("", n))
      assert.are.equal((mime.qp(text, nil)), (mime.qp(n, nil)))
      assert.are.equal((mime.wrp(3, text, 3)), (mime.wrp(3, n, 3)))
      assert.are.equal((mime.eol(0, text)), (mime.eol(0, n)))
    end
  end)
end)
