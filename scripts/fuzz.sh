#!/usr/bin/env bash
# fuzz.sh [SECONDS]: runs every libFuzzer target of build-asan/ for a bounded time each,
# starting from its committed corpus. Any crash or sanitizer report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
cd "$root"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
shopt -s nullglob
targets=(build-asan/fuzz/fuzz_*)
if ((${#targets[@]} == 0)); then echo "fuzz: no targets built"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  work="build-asan/fuzz/corpus-$name"
  mkdir -p "$work"
  echo "== $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 "$work" "fuzz/corpus/${name#fuzz_}" 2>&1 | tail -n 12
done
