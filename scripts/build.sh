#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds one build tree with Ninja.
# Where ccache is installed it caches compilations (a developer's convenience; nothing needs it).
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ! -f "$root/$dir/build.ninja" ]]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S "$root" -B "$root/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
fi
cmake --build "$root/$dir" -- -j"$(nproc)"
