#!/bin/sh
# The benchmark: each filter on the kinds of input users feed it (bench/kinds.lua),
# in calls of 76 bytes, 2 KiB and 64 KiB and one call over 8 MiB, on Lua 5.1 and
# LuaJIT, side by side in one process with the portable build (MIME_KERNEL=scalar,
# at 2 KiB and 64 KiB), the per-byte reference build (bench/baseline/) and the
# copy floor (bench/floor/); then Python's binascii and coreutils base64 on the
# same bytes. Reports MB/s and each filter's time over the floor's. Not part of
# the test suite: the tests check bytes, never speed.
#
#   sh bench/run.sh                      # from the top of the tree, 4 to 10 minutes
#   BENCH_ONLY=qp,eol BENCH_KINDS=text,greek BENCH_CHUNKS=76,64K sh bench/run.sh
#
# Environment (see bench/bench.lua for the rest):
#   BENCH_ONLY     functions to measure (b64,unb64,qp,unqp,qpwrp,wrp,eol,dot)
#   BENCH_KINDS    inputs to measure them on (binary,base64,text,greek,...)
#   BENCH_CHUNKS   chunk sizes: 76,2K,64K,8M (8M: one call over the whole input)
#   BENCH_ROUNDS   rounds per measurement, 5; figures are medians
#   BENCH_LUA      interpreters, "lua5.1 luajit"
#   BENCH_PORTABLE=0  leaves out the portable build (and its second build tree)
#   BENCH_BUILD    build tree, build-bench/ (the portable build: build-bench/portable/)
#   BENCH_OUT      where results.md and results.png go: bench/ for a full run,
#                  the build tree when BENCH_ONLY, BENCH_KINDS or BENCH_CHUNKS is set
#
# Profiling one filter at 76-byte calls: bench/profile.sh (callgrind or perf).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$top/build-bench}
portable=$build/portable
if [ -n "$BENCH_OUT" ]; then
  out=$BENCH_OUT
elif [ -n "$BENCH_ONLY$BENCH_KINDS$BENCH_CHUNKS" ]; then
  out=$build
else
  out=$top/bench
fi
started=$(date +%s)

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIME_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
if [ "${BENCH_PORTABLE:-1}" != 0 ]; then
  cmake -S "$top" -B "$portable" -DCMAKE_BUILD_TYPE=Release -DMIME_BENCH=ON -DBUILD_TESTING=OFF \
    -DMIME_KERNEL=scalar >/dev/null
  cmake --build "$portable" -j2 >/dev/null
fi

data=$build/bench-data
mkdir -p "$data" "$out"
rm -f "$data"/*.bin
results=$build/bench-results.tsv
: > "$results"
for lua in ${BENCH_LUA:-lua5.1 luajit}; do
  case $lua in
    lua5.1) version=5.1 ;;
    luajit) version=luajit ;;
    *) echo "$lua: only lua5.1 and luajit are benchmarked"; continue ;;
  esac
  dir=$build/bench-$version
  if ! command -v "$lua" >/dev/null 2>&1 || [ ! -f "$dir/mime/core.so" ]; then
    echo "$lua or its module missing: skipped"
    continue
  fi
  scalar=""
  [ "${BENCH_PORTABLE:-1}" != 0 ] && scalar=$portable/bench-$version/mime/core.so
  LUA_CPATH="$dir/?.so" BENCH_PORTABLE="$scalar" "$lua" "$top/bench/bench.lua" "$data" "$results"
done
if command -v python3 >/dev/null 2>&1; then
  python3 "$top/bench/py_bench.py" "$data" "$results" chunks
  MALLOC_MMAP_THRESHOLD_=131072 python3 "$top/bench/py_bench.py" "$data" "$results" whole
else
  echo "python3 missing: Python and coreutils skipped"
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
note="one run on ${cpu:-this machine} ($(nproc 2>/dev/null || echo ?) cores, shared)"
lua5.1 "$top/bench/report.lua" "$results" "$out/results.md" "$build/bench-chart.dat" "$note" >/dev/null
if command -v gnuplot >/dev/null 2>&1; then
  gnuplot -e "data='$build/bench-chart.dat'; output='$out/results.png'; tool='$(head -n 1 "$results" | cut -f 2)'" \
    "$top/bench/chart.gp"
  echo "chart: $out/results.png"
else
  echo "gnuplot missing (apt-get install gnuplot-nox): no chart"
fi
echo "table: $out/results.md ($(($(date +%s) - started)) s)"
