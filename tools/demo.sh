#!/bin/sh
# Builds the module and runs the demo: a file (default: a bundled sample) is
# encoded to Base64 in 76-column lines, chunk by chunk, and decoded back.
# usage: tools/demo.sh [file]
set -e
cd "$(dirname "$0")/.."
sh tools/deps.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target mime_core >/dev/null
LUA_CPATH="./build/?.so;;" exec lua5.1 tools/demo.lua "$@"
