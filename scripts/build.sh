#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds one build tree with Ninja. The tree is
# configured again only when the options differ from the ones it was configured with, so every
# script that shares a tree builds it the same way.
# Where ccache is installed it caches compilations (a developer's convenience; nothing needs it).
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
stamp="$root/$dir/.configured-with"
if [[ ! -f "$root/$dir/build.ninja" || ! -f $stamp || $(<"$stamp") != "$*" ]]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S "$root" -B "$root/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  echo "$*" > "$stamp"
fi
cmake --build "$root/$dir" -- -j"$(nproc)"
