#!/bin/sh
# Installs the rock from this checkout into a throw-away tree with `luarocks make`
# for each Lua version given, then loads the installed module from that tree.
# usage: luarocks_smoke.sh <luarocks> <version>...
set -e
luarocks=$1
shift
cd "$(dirname "$0")/.."
for version in "$@"; do
  tree=$(mktemp -d)
  work=$(mktemp -d)
  # A copy of the checkout, so that the rock's build folder stays out of the tree.
  tar --exclude='./build*' -cf - . | tar -xf - -C "$work"
  (cd "$work" && "$luarocks" --lua-version "$version" make --tree "$tree" mime-core-scm-1.rockspec >"$tree.log" 2>&1) || {
    cat "$tree.log"; echo "luarocks make failed for Lua $version"; exit 1; }
  module=$(find "$tree" -path '*/lib/lua/*/mime/core.so' | head -n 1)
  [ -n "$module" ] || { echo "no mime/core.so installed for Lua $version"; exit 1; }
  eval "$("$luarocks" --lua-version "$version" --tree "$tree" path)"
  LUA_PATH="$LUA_PATH" LUA_CPATH="$LUA_CPATH" "lua$version" -e '
    local mime = require "mime.core"
    assert(mime._VERSION == "MIME 1.0.3", "version")
    assert(mime.b64("hello", nil) == "aGVsbG8=", "b64")
    assert(mime.unb64("aGVs\r\nbG8=", nil) == "hello", "unb64")
    local text, room = mime.wrp(76, "abc")
    assert(text == "abc" and room == 73, "wrp")
    assert(require("mime.header").decode("=?UTF-8?Q?a_b?=") == "a b", "mime.header")
    local stream = require "mime.stream"
    local body = stream.base64_body(4)
    assert(body:push("hello") .. body:finish() == "aGVs\r\nbG8=\r\n", "mime.stream")
    assert(stream.decode_all("quoted-printable", "caf=C3=A9=\n!") == "caf\195\169!", "decode_all")
    assert(select(2, stream.decode_all("base64", "aGV!", { strict = true })):find("at byte 4"), "strict")
    print("Lua " .. _VERSION:match("%d+%.%d+") .. ": mime.core, mime.stream and mime.header from the rock tree work")
  ' || { echo "the installed module failed for Lua $version"; exit 1; }
  case "$module" in "$tree"/*) ;; *) echo "module not in the tree"; exit 1 ;; esac
  [ -n "$(find "$tree" -path '*/share/lua/*/mime/stream.lua')" ] || {
    echo "no mime/stream.lua installed for Lua $version"; exit 1; }
  encoded=$(printf hi | "$tree/bin/mimefilter" b64 | tr -d '\r')
  [ "$encoded" = "aGk=" ] || { echo "the installed mimefilter failed for Lua $version: $encoded"; exit 1; }
  decoded=$(printf 'aGk!' | "$tree/bin/mimefilter" unb64 --strict 2>&1 || true)
  [ "$decoded" = "mimefilter: standard input: invalid base64 at byte 4: '!' is not a Base64 character" ] || {
    echo "the installed mimefilter --strict failed for Lua $version: $decoded"; exit 1; }
  rm -rf "$tree" "$tree.log" "$work"
done
