#!/usr/bin/env bash
# bench/profile.sh: where a server spends its user-space instructions and its system calls under
# one bounded load, relaydash beside nginx (loopback only).
#
# Usage: bench/profile.sh [-d SECONDS] [-c CONNECTIONS] [-o DIR] [PATH [WRK_ARGUMENTS...]]
#   PATH         what to ask for (default /health); e.g. /ui/pages/config.js
#   WRK_ARGUMENTS more for wrk, e.g. -H 'Connection: close' or -s bench/pipeline.lua
#   -d SECONDS   length of each load run (default 5)
#   -c N         keep-alive connections (default 64)
#   -o DIR       keep the callgrind and system call outputs in DIR
#
# For each server it runs the same wrk load twice: once with the server under valgrind's
# callgrind (user-space instructions per request, top functions and source files by their own
# instructions; inclusive counts are left out, coroutines resuming one another confuse them),
# once with its system calls counted (perf's syscall tracepoints where they can be read, else
# strace -c, which slows the server). Valgrind slows the server tenfold or more, so the request
# rate there means nothing; the counts per request do. Needs valgrind, strace, wrk and nginx
# (apt-get install valgrind strace wrk nginx; linux-perf for the tracepoint counts). Stops
# everything it starts.
set -euo pipefail

duration=5
connections=64
keep_dir=
while getopts "d:c:o:h" opt; do
  case $opt in
    d) duration=$OPTARG ;;
    c) connections=$OPTARG ;;
    o) keep_dir=$OPTARG ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
path=${1:-/health}
(($#)) && shift
extra=("$@")
[[ $duration =~ ^[1-9][0-9]*$ && $connections =~ ^[1-9][0-9]*$ && $path == /* ]] || {
  echo "profile.sh: -d and -c take positive whole numbers, PATH starts with /" >&2
  exit 2
}
bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
# shellcheck source=bench/common.sh
source "$bench/common.sh"
host=127.0.0.1
rd_port=${RELAYDASH_PORT:-18080}
ng_port=${NGINX_PORT:-18081}
relaydash_bin=${RELAYDASH_BIN:-$root/build/relaydash}
for tool in valgrind callgrind_annotate callgrind_control strace wrk nginx taskset; do
  command -v "$tool" >/dev/null || {
    echo "profile.sh: missing $tool; apt-get install valgrind strace wrk nginx" >&2
    exit 1
  }
done
[[ -x $relaydash_bin ]] || { echo "profile.sh: no $relaydash_bin; build it first" >&2; exit 1; }
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

work=$(mktemp -d /tmp/relaydash-profile.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [[ -n $keep_dir ]]; then
    mkdir -p "$keep_dir"
    cp "$work"/*.out* "$work"/*.txt "$keep_dir/" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp "$root/tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json" \
  "$work/global_conf.json"
mkdir -p "$work/www/ui" "$work/nginx"
cp -r "$root/assets/ui/." "$work/www/ui/"
chmod -R a+rX "$work/www"
# One process (no master) so that the profiled process is the one that serves.
write_nginx_conf "$work" "$host" "$ng_port" 'master_process off;'

wait_for_port() { wait_until_listening "$host" "$1" 600; }  # for at most 60 s: valgrind starts slowly

start_server() {  # SERVER WRAPPER...: starts the server on core 0 under the wrapper; sets $server_pid
  local server=$1
  shift
  if [[ $server == relaydash ]]; then
    taskset -c 0 "$@" "$relaydash_bin" --listen "$host" --port "$rd_port" \
      --dataPath "$work/db.sqlite3" --forwarderConfigPath "$work/global_conf.json" \
      --forwarderUnitServiceName "" >>"$work/$server.log" 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
    wait_for_port "$rd_port"
  else
    taskset -c 0 "$@" nginx -e "$work/nginx/error.log" -p "$work/nginx" \
      -c "$work/nginx/nginx.conf" >>"$work/$server.log" 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
    wait_for_port "$ng_port"
  fi
}

stop_server() {  # the server itself first, so that a tracer around it writes its summary
  local child
  for child in $(pgrep -P "$server_pid" || true); do kill "$child" 2>/dev/null || true; done
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}

load() {  # SERVER: one bounded wrk run; prints the number of requests served
  local port=$rd_port
  [[ $1 == nginx ]] && port=$ng_port
  timeout $((duration + 60)) taskset -c 1 wrk -t 1 -c "$connections" -d "${duration}s" \
    --timeout 30s "${extra[@]}" "http://$host:$port$path" | awk '/ requests in / { print $1 }'
}

top_functions() {  # N: the first N functions of a callgrind_annotate listing, names shortened
  # The frames that were on the stack at the dump (main, the loop) carry the whole total: left out.
  awk -v n="$1" '
    /file:function/ { listing = 1; next }
    listing && $1 ~ /^[0-9,]+$/ && $0 !~ /\(100\.0%\)/ && shown < n {
      cost = $1
      share = $0
      sub(/^[^(]*\( */, "", share)
      sub(/\).*/, "", share)
      name = $0
      sub(/^[^)]*\) +/, "", name)
      sub(/^[^ :]*:/, "", name)
      sub(/ \[[^]]*\]$/, "", name)
      while (gsub(/\([^()]*\)/, "", name)) {}
      while (gsub(/<[^<>]*>/, "", name)) {}
      printf "  %14s %7s  %s\n", cost, share, name
      shown++
    }'
}

top_files() {  # N LISTING: own instructions summed by source file (library for code without one)
  awk '
    /file:function/ { listing = 1; next }
    listing && $1 ~ /^[0-9,]+$/ && $0 !~ /\(100\.0%\)/ {
      cost = $1
      gsub(/,/, "", cost)
      name = $0
      sub(/^[^)]*\) +/, "", name)
      file = name
      sub(/:.*/, "", file)
      if (file == "???" || file ~ /^\.\//) {
        file = name
        sub(/.*\[/, "", file)
        sub(/\]$/, "", file)
        sub(/.*\//, "", file)
      }
      sum[file] += cost
    }
    END {
      for (f in sum) printf "%d %s\n", sum[f], f
    }' "$2" | sort -rn | awk -v n="$1" -v total="$(awk '/PROGRAM TOTALS/ { gsub(/,/, "", $1); print $1; exit }' "$2")" '
    NR <= n { printf "  %14d %6.2f%%  %s\n", $1, 100 * $1 / total, $2 }'
}

syscall_names=(recvfrom read sendto sendmsg writev sendfile64 epoll_wait epoll_ctl accept4 close openat
  newfstatat setsockopt)
use_perf=0
if command -v perf >/dev/null && perf stat -e syscalls:sys_enter_recvfrom true >/dev/null 2>&1; then
  use_perf=1
fi

for server in relaydash nginx; do
  echo "== $server: $path ${extra[*]}, $connections connections, ${duration} s"

  # Instructions: callgrind, counted from a zeroing just before the load to a dump just after.
  start_server "$server" valgrind --tool=callgrind \
    --callgrind-out-file="$work/callgrind.$server.out"
  callgrind_control -z "$server_pid" >/dev/null
  requests=$(load "$server")
  callgrind_control -d "$server_pid" >/dev/null
  stop_server
  dump=$(find "$work" -name "callgrind.$server.out*" -size +0 | sort | tail -n 1)
  callgrind_annotate --auto=no --threshold=100 "$dump" >"$work/annotate.$server.txt"
  total=$(awk '/PROGRAM TOTALS/ { gsub(/,/, "", $1); print $1; exit }' \
    "$work/annotate.$server.txt")
  echo "requests under callgrind: $requests; instructions per request (user space):" \
    "$((total / (requests > 0 ? requests : 1)))"
  echo "top functions by own instructions (share of all user-space instructions):"
  top_functions 15 <"$work/annotate.$server.txt"
  echo "own instructions by source file (share of all user-space instructions):"
  top_files 10 "$work/annotate.$server.txt"

  # System calls: counted by the kernel's tracepoints where perf can read them, so the server
  # runs at full speed (under strace it is slowed and finds its next request waiting more often).
  if ((use_perf)); then
    start_server "$server"
    events=(-e raw_syscalls:sys_enter)
    for name in "${syscall_names[@]}"; do events+=(-e "syscalls:sys_enter_$name"); done
    # A read that finds nothing yet (EAGAIN) is a system call spent on no request.
    events+=(-e syscalls:sys_exit_recvfrom --filter 'ret == -11')
    timeout $((duration + 30)) perf stat -x, -o "$work/perf.$server.txt" "${events[@]}" \
      -p "$server_pid" -- sleep $((duration + 2)) &
    counter=$!
    pids+=("$counter")
    sleep 0.5
    requests=$(load "$server")
    wait "$counter" || true
    stop_server
    echo "requests: $requests; system calls per request (perf tracepoints):"
    awk -F, -v n="$requests" '
      $3 == "raw_syscalls:sys_enter" { printf "  %-22s %8.3f\n", "all", $1 / n; next }
      $3 == "syscalls:sys_exit_recvfrom" { printf "  %-22s %8.3f\n", "recvfrom finding none", $1 / n; next }
      $3 ~ /^syscalls:sys_enter_/ && $1 / n >= 0.005 {
        name = $3
        sub(/^syscalls:sys_enter_/, "", name)
        printf "  %-22s %8.3f\n", name, $1 / n
      }' "$work/perf.$server.txt"
  else
    start_server "$server" strace -c -o "$work/strace.$server.txt"
    requests=$(load "$server")
    stop_server
    echo "requests under strace: $requests; system calls per request:"
    awk -v n="$requests" '
      $NF == "total" { printf "  %-14s %8.3f\n", "total", $4 / n; next }
      $1 ~ /^[0-9.]+$/ && NF >= 5 && $4 / n >= 0.005 { printf "  %-14s %8.3f\n", $NF, $4 / n }
    ' "$work/strace.$server.txt"
  fi
  echo
done
