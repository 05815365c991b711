# shellcheck shell=bash
# Sourced by the scripts that test relaydash as one of many gateways: relaydash servers on
# 127.0.0.1, each in its own folder $work/gwN with its own port, account database, copy of
# $sample (a forwarder configuration) and stand-ins for systemctl, journalctl and timedatectl
# (tests/support/fake-systemd) in $work/gwN/bin, their state in $work/gwN/bin/state.
# The sourcing script calls gateways_need and gateways_work, then sets sample and unit;
# gateway_start fills port[N] and fingerprint[N] and adds the server to pids, which gateways_stop
# ends. pass, fail and check print the checks' lines and count the failures.

declare -A port fingerprint
pids=()
failures=0

# The checks' lines: "ok   WHAT" or "FAIL WHAT", the failures counted in $failures.
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# quietly COMMAND...: runs COMMAND, its output shown only when it fails.
quietly() { "$@" >"$work/quietly.log" 2>&1 || { cat "$work/quietly.log"; false; }; }

# gateways_need PACKAGES TOOL...: ends the script, saying what is missing, unless every TOOL is on
# PATH (PACKAGES: the Debian packages that have them) and the server binary is there: $RELAYDASH,
# relative to the working directory, or build/relaydash. Sets root, and program to the binary's
# absolute path, and goes to the root of the tree.
gateways_need() {
  local packages=$1 tool missing=()
  shift
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  program=${RELAYDASH:-$root/build/relaydash}
  [[ $program == /* ]] || program=$PWD/$program
  cd "$root"
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    echo "missing: ${missing[*]} (Debian: apt-get install -y $packages)" >&2
    exit 1
  fi
  [[ -x $program ]] || { echo "no server binary at $program (scripts/build.sh, or set RELAYDASH)" >&2; exit 1; }
}

# gateway_start N: gateway N on a port nothing answers on; waits for the line about HTTPS, which
# the server prints once it listens.
gateway_start() {
  local n=$1 dir=$work/gw$1 try out started=
  mkdir -p "$dir/bin/state"
  cp "$root"/tests/support/fake-systemd/{systemctl,journalctl,timedatectl} "$dir/bin/"
  cp "$sample" "$dir/global_conf.json"
  out=$dir/out
  for _ in 1 2 3 4 5; do
    try=$((20000 + RANDOM % 40000))
    if curl -s --max-time 1 "http://127.0.0.1:$try/" >/dev/null 2>&1; then continue; fi
    : >"$out"  # made before the server's shell opens it, so the first look finds it
    (cd "$dir" && exec env PATH="$dir/bin:$PATH" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/relaydash-tests \
      RELAYDASH_JOURNAL_WATCH="$dir/bin/state" RELAYDASH_TLS_DIR="$dir/installed" \
      "$program" --listen 127.0.0.1 --port "$try" --dataPath "$dir/db.sqlite3" \
      --forwarderConfigPath "$dir/global_conf.json" --forwarderUnitServiceName "$unit") >"$out" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do
      grep -q '^HTTPS' "$out" && break
      kill -0 "${pids[-1]}" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q '^HTTPS' "$out" && kill -0 "${pids[-1]}" 2>/dev/null; then started=1; break; fi
  done
  [[ -n $started ]] || { echo "gateway $n did not start:"; cat "$out"; exit 1; }
  port[$n]=$try
  fingerprint[$n]=$(sed -n 's/^HTTPS: certificate SHA-256 fingerprint //p' "$out")
  echo "gateway $n listens on 127.0.0.1:$try"
}

# gateways_stop: ends every process in pids (the servers gateway_start started, and any the
# script adds), waits for them, and removes $work.
gateways_stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

# gateways_work NAME: makes $work, /tmp/relaydash-NAME.XXXXXX, removed with every process in pids
# when the script ends.
gateways_work() {
  work=$(mktemp -d "/tmp/relaydash-$1.XXXXXX")
  trap gateways_stop EXIT
  trap 'exit 130' INT TERM HUP
}
