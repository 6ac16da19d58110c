#!/bin/sh
# Installs a build folder into a throw-away prefix with `cmake --install`, runs
# the installed tool from there, then removes it all with the uninstall target.
# usage: install_test.sh <cmake> <build folder> <lua version, as in lib/lua/<version>>
set -e
cmake=$1 build=$2 version=$3
prefix=$(mktemp -d)
# The build folder's record of a real install of the user's stays as it was.
for record in install_manifest.txt install_directories.txt; do
  [ ! -e "$build/$record" ] || cp "$build/$record" "$prefix.$record"
done
restore() {
  for record in install_manifest.txt install_directories.txt; do
    rm -f "$build/$record"
    [ ! -e "$prefix.$record" ] || mv "$prefix.$record" "$build/$record"
  done
  rm -rf "$prefix"
}
trap restore EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
for file in "lib/lua/$version/mime/core.so" "share/lua/$version/mime/stream.lua" \
    "share/lua/$version/mime/header.lua" bin/mimefilter share/man/man1/mimefilter.1; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
encoded=$(printf hi | LUA_CPATH="$prefix/lib/lua/$version/?.so" LUA_PATH="$prefix/share/lua/$version/?.lua" \
  "$prefix/bin/mimefilter" b64 | tr -d '\r')
[ "$encoded" = "aGk=" ] || { echo "the installed mimefilter failed: $encoded"; exit 1; }
"$cmake" --build "$build" --target uninstall >/dev/null
left=$(cd "$prefix" && find . -mindepth 1)
[ -z "$left" ] || { echo "left after uninstall:"; echo "$left"; exit 1; }
