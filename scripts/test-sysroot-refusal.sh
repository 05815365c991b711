#!/usr/bin/env bash
# scripts/sysroot.sh tells "apt cannot download the packages" (status 75, with apt's own
# message) from every other failure (any other status), and a failed attempt leaves a finished
# sysroot as it was. A recipe naming a package no mirror has stands for a mirror out of sync:
# apt fails on resolving it, so nothing but the indices is downloaded.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/checks.sh
# run NAME ARGS...: sysroot.sh's status, its output in $work/NAME.
run() {
  local name=$1 status=0
  shift
  "$@" >"$work/$name" 2>&1 || status=$?
  echo "$status"
}

stamp=.cache/sysroot/armhf/.stamp
before=$(cat "$stamp" 2>/dev/null || true)

printf '# a test recipe\nlibc6-dev\nrelaydash-no-such-package\n' >"$work/recipe"
status=$(run missing env RELAYDASH_SYSROOT_RECIPE="$work/recipe" scripts/sysroot.sh armhf)
((status == 75)) || fail "a package apt cannot find: status $status, not 75"
grep -q 'E: Unable to locate package relaydash-no-such-package' "$work/missing" ||
  fail "apt's message is not shown"
if compgen -G ".cache/sysroot/apt-armhf/archives/*.deb" >/dev/null; then
  fail "packages were downloaded"
fi
[[ $(cat "$stamp" 2>/dev/null || true) == "$before" ]] || fail "the finished sysroot changed"

status=$(run no-recipe env RELAYDASH_SYSROOT_RECIPE="$work/none" scripts/sysroot.sh armhf)
((status != 0 && status != 75)) || fail "a recipe that does not exist: status $status"
status=$(run usage scripts/sysroot.sh sparc)
((status == 2)) || fail "an unknown architecture: status $status, not 2"

[[ -z $(dpkg --print-foreign-architectures) ]] || fail "dpkg has foreign architectures"

if ((failures)); then
  for output in "$work"/*; do
    [[ $output == */recipe ]] && continue
    echo "== $(basename "$output")"
    cat "$output"
  done
fi
end_checks test-sysroot-refusal "status 75 with apt's message, other failures otherwise"
