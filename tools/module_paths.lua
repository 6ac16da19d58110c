-- module_paths.lua: lets a Lua script run from this checkout find the
-- mime.core built here for the interpreter that runs it, and the checkout's
-- mime.stream and mime.header. The examples and bin/mimefilter load it
-- themselves; for any other script, let every Lua started from the shell
-- load it first:
--
--   export LUA_INIT="@$PWD/tools/module_paths.lua"      (in the top folder)
--
-- The build folder is MIME_BUILD_DIR, or build/ in the top folder. The module
-- for this Lua is <build>/lua-<version>/mime/core.so (lua-5.2, lua-5.3,
-- lua-5.4, lua-luajit, as a full build makes them beside the main one), or
-- <build>/mime/core.so when the folder was configured for this Lua. When it
-- holds neither, package.cpath stays as it is (an installed module is found
-- as usual) and a failing require "mime.core" names the build missing.

if package.loaded["mime.module_paths"] then return end
package.loaded["mime.module_paths"] = true

local source = debug.getinfo(1, "S").source
local root = (source:match("^@(.*)[/\\]tools[/\\][^/\\]*$") or source:match("^@tools[/\\]") and ".")
if not root then return end

local build = os.getenv("MIME_BUILD_DIR")
if not build or build == "" then build = root .. "/build" end
local version = rawget(_G, "jit") and "luajit" or _VERSION:match("%d+%.%d+")

local function exists(path)
  local file = io.open(path, "rb")
  if file then file:close() end
  return file ~= nil
end

-- The Lua that a CMake build folder was configured for; nil without a cache
-- (a folder holding only a module, as the tests name one).
local function configured_version(folder)
  local cache = io.open(folder .. "/CMakeCache.txt", "r")
  if not cache then return nil end
  local configured = cache:read("*a"):match("\nLUA_VERSION:STRING=([^\r\n]*)")
  cache:close()
  return configured
end

local folder
if exists(build .. "/lua-" .. version .. "/mime/core.so") then
  folder = build .. "/lua-" .. version
elseif exists(build .. "/mime/core.so") then
  local configured = configured_version(build)
  if configured == nil or configured == version then folder = build end
end

-- The Lua layers serve every Lua version.
package.path = root .. "/lua/?.lua;" .. package.path
if folder then
  package.cpath = folder .. "/?.so;" .. package.cpath
  return
end

-- No module for this Lua here: say so where require lists what it tried.
local searchers = package.searchers or package.loaders
local separator = _VERSION == "Lua 5.4" and "" or "\n\t"
searchers[#searchers + 1] = function(name)
  if name ~= "mime.core" then return nil end
  return ("%sno mime.core built for %s in %s (run 'sh tools/test.sh', which builds it"
    .. " for every Lua installed)"):format(separator, version == "luajit" and "LuaJIT"
    or "Lua " .. version, build)
end
