#!/usr/bin/env bash
# setup.sh [GROUP...]: installs what building, testing and running relaydash needs, and nothing
# that is already there. Safe to run again. As root it installs with apt; otherwise it prints the
# command to run. Without a group: the compilers, libraries and tools of the build and its tests,
# Debian's chromium and the npm packages. Each group adds what one more stage needs:
#   package   the Debian packages: dpkg-shlibdeps, lintian, file, systemd-analyze, debootstrap
#   cross     the ARM builds: Debian's cross compilers and qemu-user (the ARM libraries come from
#             a sysroot, scripts/sysroot.sh, never from this machine's multiarch)
#   systemd   the package under a real systemd: systemd-nspawn, debootstrap, ip, pgrep, openssl
#   scan      the TLS scanners run against a local server: sslscan and testssl.sh
#   fleet     relaydash among many gateways: Prometheus and promtool, ansible-core, ansible-lint,
#             openssl
# A mirror can be out of sync for a while ("Mirror sync in progress?"): `apt-get update` is tried
# a few times, then its failure is tolerated as long as the packages can still be installed.
# When they cannot, apt's own message says which, and the exit status is 75 (EX_TEMPFAIL): the
# packages could not be had, nothing is wrong with the tree. Any other failure exits otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libbenchmark-dev libsqlite3-dev libsodium-dev libsystemd-dev libssl-dev
  sqlite3 curl chromium
  # promtool, with which a test checks a real /metrics scrape
  prometheus
)
for group in "$@"; do
  case $group in
  package) packages+=(dpkg-dev lintian file systemd debootstrap) ;;
  cross) packages+=(g++-arm-linux-gnueabihf g++-aarch64-linux-gnu qemu-user) ;;
  systemd) packages+=(systemd-container debootstrap iproute2 procps openssl) ;;
  scan) packages+=(sslscan testssl.sh) ;;
  fleet) packages+=(prometheus ansible-core ansible-lint openssl) ;;
  *) echo "usage: scripts/setup.sh [package] [cross] [systemd] [scan] [fleet]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  [[ " ${missing[*]} " == *" $p "* ]] && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian (with npm inside); only a missing one is installed.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# apt-get update, tried again a few seconds apart. Returns apt's status of the last try.
update_package_lists() {
  local try status
  for try in 1 2 3; do
    status=0
    apt-get update -qq -o DPkg::Lock::Timeout=600 2>"$work/update" || status=$?
    ((status == 0)) && return 0
    echo "setup: apt-get update failed (try $try of 3):" >&2
    sed 's/^/  /' "$work/update" >&2
    ((try < 3)) && sleep 5
  done
  return "$status"
}

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages; run as root:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  # One set-up at a time installs (CI prepares a stage in the background while another stage
  # sets up); the second then finds what the first installed.
  exec 8>/var/lock/relaydash-setup.lock
  flock 8
  still_missing=()
  for p in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      still_missing+=("$p")
  done
  missing=("${still_missing[@]}")
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! update_package_lists; then
    # Often only one suite's index is out of sync, and the packages come from the others (or are
    # in the lists of an earlier update): try to install all the same.
    echo "setup: going on with the package lists as they are" >&2
  fi
  # --no-remove: installing a package must never push out one this machine has. Another program
  # may hold apt's lock for a while: wait for it.
  if ! apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends --no-remove \
      "${missing[@]}" >"$work/install" 2>&1; then
    echo "setup: apt cannot install ${missing[*]}:" >&2
    grep -v '^debconf: ' "$work/install" | sed 's/^/  /' >&2
    exit 75
  fi
fi

# The npm packages pinned by package-lock.json: terser, which minifies the web application when
# it is built, and the browser tests' driver of Debian's chromium.
if [[ -f "$root/package-lock.json" ]]; then
  if [[ ! -d "$root/node_modules" || "$root/package-lock.json" -nt "$root/node_modules/.package-lock.json" ]]; then
    echo "setup: installing the npm packages"
    if ! (cd "$root" && npm ci --no-audit --no-fund --loglevel=error) 2>"$work/npm"; then
      cat "$work/npm" >&2
      # Only a registry that cannot be reached is no fault of the tree's.
      if grep -qE 'E(NOTFOUND|CONNREFUSED|CONNRESET|TIMEDOUT|AI_AGAIN|5[0-9][0-9])|network' "$work/npm"; then
        echo "E: npm cannot download the packages of package-lock.json" >&2
        exit 75
      fi
      exit 1
    fi
  fi
fi
echo "setup: all the dependencies asked for are present"
