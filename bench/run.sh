#!/bin/sh
# The benchmark: MB/s of input for the eight filters on Lua 5.1 and LuaJIT, for
# chunks of 2 KiB and 64 KiB and one call over 8 MiB, side by side with a
# per-byte reference build, Python's binascii and coreutils base64 (when present),
# a pure-Lua Base64 (lua-basexx, when installed) and the floor (making a new Lua
# string of the output's size). Not part of the test suite.
#
#   sh bench/run.sh            # from the top of the tree
#   BENCH_ROUNDS=3 sh bench/run.sh
#
# Builds into build-bench/ (Release, MIME_BENCH=ON), writes bench/results.md and,
# when gnuplot is installed, bench/results.png.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIME_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
data=$build/bench-data
mkdir -p "$data"
results=$build/bench-results.tsv
: > "$results"
for lua in lua5.1 luajit; do
  case $lua in lua5.1) dir=$build/bench-5.1 ;; luajit) dir=$build/bench-luajit ;; esac
  if command -v $lua >/dev/null 2>&1 && [ -f "$dir/mime/core.so" ]; then
    LUA_CPATH="$dir/?.so" LUA_PATH="/usr/share/lua/5.1/?.lua;;" $lua "$top/bench/bench.lua" "$data" "$results"
  else
    echo "$lua or its module missing: skipped"
  fi
done
if command -v python3 >/dev/null 2>&1; then
  python3 "$top/bench/py_bench.py" "$data" "$results"
else
  echo "python3 missing: Python and coreutils skipped"
fi
lua5.1 "$top/bench/report.lua" "$results" "$top/bench/results.md" "$build/bench-chart.dat"
if command -v gnuplot >/dev/null 2>&1; then
  gnuplot -e "data='$build/bench-chart.dat'; output='$top/bench/results.png'" "$top/bench/chart.gp"
  echo "chart: bench/results.png"
else
  echo "gnuplot missing: no chart"
fi
echo "table: bench/results.md"
