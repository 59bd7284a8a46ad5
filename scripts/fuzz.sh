#!/usr/bin/env bash
# Builds the fuse file reader's fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it for a bounded time, 60 s unless
# FUZZ_SECONDS says otherwise. Fails on any finding; findings are kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}

echo "== fuzz the fuse file reader for ${seconds} s =="
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DFUSEKIT_SANITIZE=ON -DFUSEKIT_FUZZ=ON -DFUSEKIT_TESTS=OFF -DFUSEKIT_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz --target jed_fuzzer

# New inputs go to build-fuzz/corpus; the seeds in fuzz/corpus stay as they are.
mkdir -p build-fuzz/corpus build-fuzz/findings
rm -f build-fuzz/findings/*
# -close_fd_mask=2: the reader's diagnostics go nowhere; libFuzzer and the sanitizers still report.
# libFuzzer's running commentary goes to build-fuzz/fuzz.log; its last lines are shown.
status=0
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build-fuzz/fuzz/jed_fuzzer -max_total_time="$seconds" -max_len=8192 -close_fd_mask=2 \
    -dict=fuzz/jed.dict -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
    build-fuzz/corpus fuzz/corpus >build-fuzz/fuzz.log 2>&1 || status=$?
tail -n 30 build-fuzz/fuzz.log
if [[ $status -ne 0 ]]; then
  echo "the fuzzer failed (exit status $status); see build-fuzz/fuzz.log" >&2
  exit 1
fi

if [[ -n "$(ls -A build-fuzz/findings)" ]]; then
  echo "fuzzing left findings in build-fuzz/findings/" >&2
  exit 1
fi
