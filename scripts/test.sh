#!/usr/bin/env bash
# Sets up, builds and runs every test: the g++ Release build (what the packages ship), then a
# clang build with AddressSanitizer and UndefinedBehaviorSanitizer, where any sanitizer report
# fails the run, then the web application's tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh
began=$SECONDS
took() { echo "== $1: $((SECONDS - began)) s"; began=$SECONDS; }

echo "== g++ Release build (build/)"
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++
ctest --test-dir build --output-on-failure -j2
took "g++ Release build and its tests"

echo "== clang build with ASan + UBSan (build-asan/)"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DRELAYDASH_SANITIZE=ON -DRELAYDASH_FUZZ=ON
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2
took "clang ASan + UBSan build and its tests"

echo "== web application: logic tests and browser tests"
scripts/test-ui.sh
took "web application tests"
