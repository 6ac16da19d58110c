-- What `luarocks test` runs, under the Lua the rock is for: builds the module
-- for that Lua in build-rock-<version>/ and runs the busted suite (the busted
-- that the system has) against it. Not named *_test.lua, which busted would
-- take for a test file. Arguments go to busted, e.g.
--   luarocks --lua-version 5.4 test -- --exclude-tags=slow
local root = debug.getinfo(1, "S").source:match("^@(.*)[/\\]test[/\\][^/\\]*$") or "."
local version = rawget(_G, "jit") and "luajit" or _VERSION:match("%d+%.%d+")
local interpreter = arg[-1] or ("lua" .. version)
local build = "build-rock-" .. version

local function quote(text) return "'" .. text:gsub("'", "'\\''") .. "'" end

local function sh(command)
  local ok, _, code = os.execute("cd " .. quote(root) .. " && " .. command)
  if type(ok) == "number" then return ok == 0 end -- Lua 5.1 gives the status alone
  return ok == true and code == 0
end

local options = {}
for i = 1, #arg do options[i] = quote(arg[i]) end
local ok = sh("command -v busted >/dev/null || { echo 'luarocks test: busted is not installed"
    .. " (Debian: lua-busted)' >&2; exit 1; }")
  and sh(("cmake -S . -B %s -DCMAKE_BUILD_TYPE=Release -DLUA_VERSION=%s"
    .. " -DMIME_TEST_EVERY_LUA=OFF -DMIME_TEST_KERNELS=OFF >/dev/null"):format(build, version))
  and sh(("cmake --build %s -j 2 --target mime_core >/dev/null"):format(build))
  and sh(("sh test/run_busted.sh %s \"$(command -v busted)\" %s %s"):format(quote(interpreter),
    build, table.concat(options, " ")))
os.exit(ok and 0 or 1)
