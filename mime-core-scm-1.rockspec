rockspec_format = "3.0"
package = "mime-core"
version = "scm-1"
source = {
  url = "git+file:///dev/null",
}
description = {
  summary = "Streaming Base64, quoted-printable, line-wrapping, end-of-line and dot-stuffing filters for e-mail bodies",
  detailed = [[
    mime.core is a native module with eight streaming byte filters for building
    and reading e-mail bodies: b64, unb64, qp, unqp, wrp, qpwrp, eol and dot.
    Every filter works chunk by chunk with all stream state in its arguments and
    results.
  ]],
  license = "MIT",
}
dependencies = {
  "lua >= 5.1, < 5.5",
}
build = {
  install = {
    bin = { mimefilter = "bin/mimefilter" },
  },
  copy_directories = { "docs" },
  type = "cmake",
  variables = {
    CMAKE_BUILD_TYPE = "Release",
    CMAKE_INSTALL_PREFIX = "$(PREFIX)",
    LUA_INCLUDE_DIR = "$(LUA_INCDIR)",
    MIME_INSTALL_CMOD = "$(LIBDIR)",
    MIME_INSTALL_LMOD = "$(LUADIR)",
    BUILD_TESTING = "OFF",
  },
}
-- The busted suite under the rock's Lua, with the busted the system has
-- (nothing to fetch): test/run_rock_suite.lua builds the module for it first.
test = {
  type = "command",
  script = "test/run_rock_suite.lua",
}
