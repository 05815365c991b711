#!/usr/bin/env bash
# Installs what building, testing and running relaydash needs, and nothing that is already there.
# Safe to run again. As root it installs with apt; otherwise it prints the command to run.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libbenchmark-dev libsqlite3-dev libsodium-dev
  sqlite3 curl chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian (with npm inside); only a missing one is installed.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

if ((${#missing[@]})); then
  if [[ $(id -u) -eq 0 ]]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "setup: missing packages; run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi
# The browser tests' driver, pinned by package-lock.json; it drives Debian's chromium.
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ -f "$root/package-lock.json" ]]; then
  if [[ ! -d "$root/node_modules" || "$root/package-lock.json" -nt "$root/node_modules/.package-lock.json" ]]; then
    echo "setup: installing the npm packages"
    (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi
echo "setup: all build and test dependencies are present"
