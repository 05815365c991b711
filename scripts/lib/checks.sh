# shellcheck shell=bash
# Sourced by the check scripts: a scratch folder, removed at exit, and failed checks counted
# rather than ending the script, so that one run reports every check that failed.
#   $work                  the scratch folder
#   fail MESSAGE           counts a failed check and says so on standard error
#   end_checks NAME TEXT   exits 1 with the count when a check failed, else prints "NAME: TEXT"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

end_checks() {
  if ((failures)); then
    echo "$1: $failures check(s) failed" >&2
    exit 1
  fi
  echo "$1: $2"
}
