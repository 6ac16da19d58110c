#!/bin/sh
# The test suite.
#   tools/test.sh [build directory]
#       everything: the module for every installed Lua and the busted suite under
#       each, the suite again against a module pinned to each kernel set this
#       machine runs, the kernel differential test, the C++ hosts and the rock
#       (what CI runs; default directory build)
#   tools/test.sh --quick [build directory]
#       while working: the module for Lua 5.1 only, the busted suite without the
#       tests tagged #slow, and the kernel differential test (default directory
#       build-quick)
set -e
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--quick" ]; then
  build=${2:-build-quick}
  sh tools/deps.sh quick
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUA_VERSION=5.1 -DMIME_TEST_EVERY_LUA=OFF \
    -DMIME_TEST_KERNELS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target mime_core mime_kernels_differential
  "$build/mime_kernels_differential"
  exec sh test/run_busted.sh "$(command -v lua5.1)" "$(command -v busted)" "$build" --exclude-tags=slow
fi
build=${1:-build}
sh tools/deps.sh test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
ctest --test-dir "$build" --output-on-failure
