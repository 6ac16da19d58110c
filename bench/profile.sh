#!/bin/sh
# Profiles the module alone on one case of the benchmark: by default one filter
# in 76-byte calls, under callgrind (instructions counted exactly, so the noise of
# a shared machine does not matter), or under perf (time sampled; this machine's
# perf has no hardware counters, so it samples cpu-clock).
#
#   sh bench/profile.sh qp greek                 # callgrind, 76-byte calls, Lua 5.1
#   sh bench/profile.sh eol text 64K perf
#   BENCH_LUA=luajit sh bench/profile.sh unqp qp-text-wrapped 76
#
# Under callgrind it counts the instructions of one call, for the module and for
# the copy floor, as the difference between a run of 5 passes and one of none
# (BENCH_IMPL=module|floor|per-byte picks what bench.lua's loop runs), then lists
# where the module's run spends them. By hand, after this script (or
# bench/run.sh) has built build-bench/ and written the input:
#   BENCH_DATA=build-bench/bench-data BENCH_MIB=1 LUA_CPATH="build-bench/bench-5.1/?.so" \
#     valgrind --tool=callgrind --callgrind-out-file=build-bench/callgrind.out \
#     lua5.1 bench/bench.lua loop qp greek 76 5
#   callgrind_annotate build-bench/callgrind.out | head -40
# The interpreter is stripped: its own functions show as addresses. valgrind
# shows the program no AVX-512, so there the module runs its AVX2 kernels.
set -e
[ $# -ge 2 ] || { echo "usage: $0 <function> <kind> [chunk size, 76] [callgrind|perf]" >&2; exit 2; }
name=$1 kind=$2 chunk=${3:-76} tool=${4:-callgrind}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$top/build-bench}
lua=${BENCH_LUA:-lua5.1}
case $lua in lua5.1) version=5.1 ;; luajit) version=luajit ;; *) echo "BENCH_LUA: lua5.1 or luajit" >&2; exit 2 ;; esac
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIME_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
mkdir -p "$build/bench-data"
export BENCH_DATA="$build/bench-data" LUA_CPATH="$build/bench-$version/?.so"
# Once natively first: writes the input, if missing, and shows the speed.
BENCH_MIB=${BENCH_MIB:-4} "$lua" "$top/bench/bench.lua" loop "$name" "$kind" "$chunk" 20
case $tool in
  callgrind)
    # Instructions of a run: callgrind's total, from its output file.
    count() {
      BENCH_IMPL=$1 BENCH_MIB=${BENCH_MIB:-1} valgrind --tool=callgrind --callgrind-out-file="$build/callgrind.$1.$2" \
        "$lua" "$top/bench/bench.lua" loop "$name" "$kind" "$chunk" "$2" 2>/dev/null >"$build/callgrind.$1.$2.log"
      sed -n 's/^\(summary\|totals\): *//p' "$build/callgrind.$1.$2" | head -n 1
    }
    for impl in module floor; do
      none=$(count $impl 0)
      five=$(count $impl 5)
      calls=$(sed -n 's/.*passes of \([0-9]*\) calls.*/\1/p' "$build/callgrind.$impl.5.log")
      echo "$impl: $(( (five - none) / (5 * calls) )) instructions per call ($calls calls a pass)"
    done
    out=$build/callgrind.module.5
    callgrind_annotate "$out" | sed -n '/file:function/,$p' | head -n 30
    echo "profile: $out (callgrind_annotate [--inclusive=yes] $out)"
    ;;
  perf)
    out=$build/perf.data
    BENCH_MIB=${BENCH_MIB:-4} perf record -e cpu-clock -o "$out" \
      "$lua" "$top/bench/bench.lua" loop "$name" "$kind" "$chunk" 200
    perf report -i "$out" --stdio 2>/dev/null | grep -v "^#" | grep -v "^$" | head -n 30
    echo "profile: $out (perf report -i $out)"
    ;;
  *) echo "profiler: callgrind or perf" >&2; exit 2 ;;
esac
