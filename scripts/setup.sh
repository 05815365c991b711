#!/usr/bin/env bash
# setup.sh [--cross]: installs what building, testing and running relaydash needs, and nothing
# that is already there. With --cross also what the ARM builds and the packages need: the armhf
# and arm64 cross compilers, Debian's ARM builds of the libraries (multiarch), qemu-user to run
# ARM programs here, and lintian. Safe to run again. As root it installs with apt; otherwise it
# prints the commands to run.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libbenchmark-dev libsqlite3-dev libsodium-dev
  sqlite3 curl chromium
)
architectures=()
if [[ ${1:-} == --cross ]]; then
  architectures=(armhf arm64)
  packages+=(
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu qemu-user
    libsqlite3-dev:armhf libsodium-dev:armhf libgtest-dev:armhf libstdc++6:armhf
    libsqlite3-dev:arm64 libsodium-dev:arm64
    dpkg-dev lintian systemd file debootstrap
  )
fi

new_architectures=()
for a in "${architectures[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$a" || new_architectures+=("$a")
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian (with npm inside); only a missing one is installed.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

if ((${#missing[@]} + ${#new_architectures[@]})); then
  if [[ $(id -u) -eq 0 ]]; then
    for a in "${new_architectures[@]}"; do
      echo "setup: adding the architecture $a"
      dpkg --add-architecture "$a"
    done
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # --no-remove: a library of another architecture must never push out one of this machine's.
    apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" >/dev/null
  else
    echo "setup: missing packages; run as root:" >&2
    for a in "${new_architectures[@]}"; do echo "  dpkg --add-architecture $a" >&2; done
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
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
