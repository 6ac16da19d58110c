#!/bin/sh
# Builds the libFuzzer fuzzers (clang++, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from the
# seed corpus in fuzz/corpus/<fuzzer>/. Fails on the first finding; the input that
# caused it is kept in <build>/findings/.
# usage: tools/fuzz.sh [seconds per fuzzer, default 60] [build directory, default build-fuzz]
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}

sh tools/deps.sh fuzz

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIME_FUZZ=ON -DBUILD_TESTING=OFF -DMIME_TEST_EVERY_LUA=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target fuzz_cores fuzz_lua fuzz_lua_54

mkdir -p "$build/findings"
status=0
summary=""
for fuzzer in fuzz_cores fuzz_lua fuzz_lua_54; do
  # Work on a copy of the seeds: what the run adds stays in the build directory.
  corpus="$build/corpus/$fuzzer"
  seeds=$fuzzer
  [ -d "fuzz/corpus/$seeds" ] || seeds=fuzz_lua  # the Lua fuzzers share their seeds
  mkdir -p "$corpus"
  cp fuzz/corpus/$seeds/* "$corpus"/
  log="$build/$fuzzer.log"
  echo "== $fuzzer: $seconds s"
  started=$(date +%s)
  if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
     "$build/$fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=4096 \
       -print_final_stats=1 -artifact_prefix="$build/findings/$fuzzer-" "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "MISMATCH|ERROR|runtime error|expected|got|wanted|SUMMARY|Test unit written" "$log" | head -20 >&2
  fi
  elapsed=$(( $(date +%s) - started ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  sets=$(sed -n 's/^kernel sets compared with the steps: *//p' "$log" | head -1)
  line="$fuzzer: ${runs:-?} executions in ${elapsed} s, $result${sets:+ (kernel sets: $sets)}"
  echo "$line"
  summary="$summary$line
"
done
echo "== fuzzing summary"
printf '%s' "$summary"
[ "$status" = 0 ] || echo "fuzzing found a fault: see $build/findings/ and $build/*.log" >&2
exit "$status"
