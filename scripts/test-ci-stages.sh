#!/usr/bin/env bash
# How CI's stages (scripts/lib/stages.sh) meet a mirror that cannot give a stage's packages, tried
# with a sysroot recipe that names a package Debian does not have: that stage alone is skipped, on
# one line naming it and apt's error, the stages after it run, the run ends with the list of the
# skipped stages and passes. A stage whose command fails, or whose set-up fails otherwise, still
# fails the run. Downloads only package indices.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

source scripts/lib/checks.sh

# run NAME: runs the stages written to $work/NAME.stages, with its status in $work/NAME.status.
run() {
  local status=0
  {
    echo "source '$root/scripts/lib/stages.sh'"
    cat "$work/$1.stages"
  } >"$work/$1.sh"
  bash -euo pipefail "$work/$1.sh" >"$work/$1.out" 2>&1 || status=$?
  echo "$status" >"$work/$1.status"
}

echo "== a sysroot recipe with a package that does not exist"
printf '%s\n' libc6-dev relaydash-no-such-package >"$work/recipe"
cat >"$work/mirror.stages" <<EOF
stage "ARM builds" "RELAYDASH_SYSROOT_RECIPE='$work/recipe' scripts/sysroot.sh armhf" \\
  touch '$work/arm-ran'
stage "the next stage" "true" touch '$work/next-ran'
stages_end
EOF
run mirror
# Shown indented: CI's own log must not seem to skip a stage.
sed 's/^/    | /' "$work/mirror.out"
[[ $(<"$work/mirror.status") == 0 ]] || fail "the run ended with status $(<"$work/mirror.status")"
skipped=$(grep -c '^==== SKIPPED' "$work/mirror.out") || true
[[ $skipped == 1 ]] || fail "$skipped lines say a stage was skipped, not one"
grep -qE '^==== SKIPPED: ARM builds: its packages cannot be downloaded: E: .*relaydash-no-such-package' \
  "$work/mirror.out" || fail "the skipped stage's line does not give apt's error"
[[ ! -e $work/arm-ran ]] || fail "the skipped stage's command ran"
[[ -e $work/next-ran ]] || fail "the stage after the skipped one did not run"
[[ $(tail -n 2 "$work/mirror.out") == "==== 1 stage(s) SKIPPED, their packages could not be downloaded:
====   ARM builds" ]] || fail "the run does not end with the list of skipped stages"

echo "== set-ups started beforehand, in the background"
cat >"$work/early.stages" <<EOF
prepare_early "prepared" "echo made early >'$work/early-made'"
prepare_early "unavailable" "echo 'E: Unable to locate package relaydash-no-such-package' >&2; exit 75"
stage "between" "true" true
stage "prepared" "exit 1" touch '$work/prepared-ran'
stage "unavailable" "true" touch '$work/unavailable-ran'
stages_end
EOF
run early
[[ $(<"$work/early.status") == 0 ]] || fail "prepared stages: status $(<"$work/early.status")"
[[ -e $work/early-made && -e $work/prepared-ran ]] ||
  fail "a stage set up beforehand did not run (or its set-up was run again)"
[[ ! -e $work/unavailable-ran ]] || fail "a stage set up beforehand without its packages ran"
grep -q '^==== SKIPPED: unavailable: its packages cannot be downloaded: E: Unable to locate' \
  "$work/early.out" || fail "a stage set up beforehand without its packages is not said skipped"

echo "== a failing test, and a failing set-up, still fail the run"
cat >"$work/test.stages" <<EOF
stage "tests" "true" bash -c 'exit 3'
stage "after" "true" touch '$work/after-ran'
stages_end
EOF
run test
[[ $(<"$work/test.status") == 3 ]] || fail "a failing stage: status $(<"$work/test.status")"
[[ ! -e $work/after-ran ]] || fail "a stage ran after a failing one"
grep -q '^==== FAILED: tests: status 3' "$work/test.out" || fail "a failing stage is not named"

cat >"$work/setup.stages" <<EOF
stage "broken set-up" "exit 1" true
stages_end
EOF
run setup
[[ $(<"$work/setup.status") == 1 ]] || fail "a failing set-up: status $(<"$work/setup.status")"
grep -q '^==== FAILED: broken set-up: its set-up' "$work/setup.out" ||
  fail "a failing set-up is not named"

end_checks test-ci-stages "all checks passed"
