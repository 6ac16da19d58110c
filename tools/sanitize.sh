#!/bin/sh
# Sanitizer runs, each failing on the first report:
#   1. AddressSanitizer + UndefinedBehaviorSanitizer: the module for every Lua
#      found (and every kernel set) and the C++ test hosts are built instrumented;
#      the whole busted suite runs with the sanitizer runtime preloaded into the
#      interpreters, then the hosts run; leak detection is on throughout.
#   2. ThreadSanitizer: the many-states-on-many-threads host, embedding Lua 5.1,
#      5.4 and LuaJIT.
# usage: tools/sanitize.sh [build directory prefix, default build]
#        (uses <prefix>-asan and <prefix>-tsan)
set -e
cd "$(dirname "$0")/.."
prefix=${1:-build}
asan_build=$prefix-asan
tsan_build=$prefix-tsan
jobs=$(nproc 2>/dev/null || echo 2)

sh tools/deps.sh test

# --- AddressSanitizer and UndefinedBehaviorSanitizer -------------------------
cmake -S . -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIME_SANITIZE=address >/dev/null
cmake --build "$asan_build" -j "$jobs"

reports=$(pwd)/$asan_build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
# Every report also goes to a file, so that one raised in a child process whose
# exit a test does not look at is still seen.
ubsan="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
asan_common="abort_on_error=1:detect_odr_violation=0:log_path=$reports/asan"

# The interpreters are not built with the runtime: it is preloaded, and leak
# detection stays on. A preloaded runtime also reaches every program a test
# starts, and some system tools (script, tr, python3) leak at exit or abort
# under it, so the tests that drive external programs (tagged #shell and
# #python3) stay out of these runs; the module itself is exercised by the rest.
# The busted runs are those registered with ctest, with these options more; the
# tests that cap the address space (ulimit -v) cannot run under
# AddressSanitizer either, whose shadow memory alone is larger than the cap.
preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
status=0
ctest --test-dir "$asan_build" -N -V -R '^busted-' | sed -n 's/^.*Test command: //p' >"$asan_build/busted-commands"
[ -s "$asan_build/busted-commands" ] || { echo "no busted runs registered" >&2; exit 1; }
while read -r command; do
  echo "== $command"
  # The runs against the modules pinned to one kernel set check memory errors
  # only: at their exit LeakSanitizer's own tracer crashes (signal 11 inside the
  # tracer, after every test passed), and the kernels allocate nothing, so the
  # leak check of the run against the default module stands for them.
  leaks=1
  case "$command" in *"/kernel-"*) leaks=0 ;; esac
  eval "LD_PRELOAD=\"\$preload\" ASAN_OPTIONS=\"\$asan_common:detect_leaks=\$leaks\" UBSAN_OPTIONS=\"\$ubsan\" \
    $command --exclude-tags=shell,python3 --filter-out='in bounded memory'" >"$asan_build/busted.log" 2>&1 || {
    grep -E '^not ok|^# ' "$asan_build/busted.log" | head -40 >&2
    status=1
  }
  echo "$(grep -c '^ok ' "$asan_build/busted.log") ok, $(grep -c '^not ok ' "$asan_build/busted.log") not ok"
done <"$asan_build/busted-commands"
# The allocation-failure hosts take minutes each under the sanitizer: here the
# two ends of the range of versions (5.1, 5.4) run instrumented; all five run,
# with their own leak count, in the plain suite.
ASAN_OPTIONS="$asan_common:detect_leaks=1" UBSAN_OPTIONS="$ubsan" \
  ctest --test-dir "$asan_build" --output-on-failure \
    -R '^host-(threads|allocation-failure$|allocation-failure-5\.4$)' || status=1
if ls "$reports"/* >/dev/null 2>&1; then
  echo "sanitizer reports:" >&2
  cat "$reports"/* >&2
  status=1
fi

# --- ThreadSanitizer -----------------------------------------------------------
cmake -S . -B "$tsan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIME_SANITIZE=thread \
  -DMIME_TEST_EVERY_LUA=OFF >/dev/null
hosts="mime_threads_host mime_threads_host_54 mime_threads_host_luajit"
# shellcheck disable=SC2086
cmake --build "$tsan_build" -j "$jobs" --target $hosts
# Less data than the plain run: every byte is checked by the sanitizer here.
for host in $hosts; do
  echo "== $host"
  TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$(pwd)/tools/tsan.supp" \
    "$tsan_build/$host" 24 2 || status=1
done

if [ "$status" = 0 ]; then
  echo "sanitizers: no reports (ASan+UBSan: busted suite and test hosts; TSan: threads host on 5.1, 5.4, LuaJIT)"
else
  echo "sanitizers: FAILED" >&2
fi
exit "$status"
