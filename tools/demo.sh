#!/bin/sh
# Builds the module (in build-demo/, apart from any build/ of yours) and runs
# the demo: a multipart message with a quoted-printable letter and a Base64
# attachment (FILE, by default 4 MiB of made-up bytes), its SMTP data, and
# every part read back and compared with the original.
# usage: tools/demo.sh [FILE]
set -e
if [ -n "${1:-}" ]; then
  [ -r "$1" ] || { echo "demo.sh: cannot read $1" >&2; exit 1; }
  file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  set -- "$file"
fi
cd "$(dirname "$0")/.."
sh tools/deps.sh demo
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DLUA_VERSION=5.1 -DBUILD_TESTING=OFF >/dev/null
cmake --build build-demo -j "$(nproc 2>/dev/null || echo 2)" --target mime_core >/dev/null
MIME_BUILD_DIR=build-demo exec lua5.1 tools/demo.lua "$@"
