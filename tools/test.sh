#!/bin/sh
# Builds the module for every installed Lua and runs the whole test suite.
# usage: tools/test.sh [build directory]
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
sh tools/deps.sh test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
ctest --test-dir "$build" --output-on-failure
