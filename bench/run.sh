#!/usr/bin/env bash
# bench/run.sh: load benchmark of relaydash against nginx and a minimal epoll server on this
# machine (loopback only).
#
# Usage: bench/run.sh [-d SECONDS] [-r ROUNDS] [-w SECONDS] [-o DIR] [-t]
#   -d SECONDS  length of each load run (default 5)
#   -r ROUNDS   rounds; every round runs every load on every server, rotating (default 3)
#   -w SECONDS  warm-up of each server before the first round (default 1)
#   -o DIR      also keep the raw results (results.tsv, facts.tsv, table.md) in DIR
#   -t          then the same over HTTPS beside nginx (bench/tls.sh, with the same -d and -r)
# Environment: RELAYDASH_PORT (default 18080), NGINX_PORT (default 18081), MINIMAL_PORT (default
# 18082), RELAYDASH_BIN (the server to measure, default build/relaydash).
#
# It installs Debian's wrk, nginx and python3 with apt when run as root (otherwise it prints the
# command to run), builds build/relaydash only when it is missing, and starts relaydash, an
# nginx with one worker and bench/minimal_server.c (compiled with cc -O2: one thread that answers
# every head with precomputed bytes, the floor for one thread on this kernel), which answer the
# same /health and serve the same largest file of the web application as served (minified). The servers run on core 0 and
# wrk (one thread) on core 1. For each run it records
# requests per second, p99 latency and the server's CPU time (user + system, from /proc) per
# request served; the table it prints holds the medians over the rounds, relaydash/nginx and
# relaydash/minimal ratios (the median of each round's ratio), and relaydash's resident memory
# idle, with 1000 idle connections open and after they have closed. bench/profile.sh shows where the time of one load goes.
# Every process it starts is stopped when it exits; its work files live in a temporary folder.
set -euo pipefail

duration=5
rounds=3
warmup=1
keep_dir=
tls=
while getopts "d:r:w:o:th" opt; do
  case $opt in
    d) duration=$OPTARG ;;
    r) rounds=$OPTARG ;;
    w) warmup=$OPTARG ;;
    o) keep_dir=$OPTARG ;;
    t) tls=1 ;;
    *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
[[ $duration =~ ^[1-9][0-9]*$ && $rounds =~ ^[1-9][0-9]*$ && $warmup =~ ^[0-9]+$ ]] || {
  echo "run.sh: -d and -r take positive whole numbers, -w a whole number" >&2
  exit 2
}
load_before=$(cut -d' ' -f1 /proc/loadavg)
rd_port=${RELAYDASH_PORT:-18080}
ng_port=${NGINX_PORT:-18081}
mn_port=${MINIMAL_PORT:-18082}
bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
# shellcheck source=bench/common.sh
source "$bench/common.sh"
host=127.0.0.1

# --- tools ---------------------------------------------------------------------------------
missing=()
for tool in wrk nginx python3 taskset getconf curl cc; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  packages=(wrk nginx python3 util-linux libc-bin curl gcc)
  if [[ $(id -u) == 0 ]]; then
    echo "installing: ${packages[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" >/dev/null
  else
    echo "run.sh: missing ${missing[*]}; install them with:" >&2
    echo "  sudo apt-get install ${packages[*]}" >&2
    exit 1
  fi
fi
(($(nproc) >= 2)) || { echo "run.sh: needs at least 2 cores (server on 0, wrk on 1)" >&2; exit 1; }

relaydash_bin=${RELAYDASH_BIN:-$root/build/relaydash}
if [[ -z ${RELAYDASH_BIN:-} && ! -x $relaydash_bin ]]; then
  "$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++
fi

# 1000 held connections plus the 512-connection runs need more descriptors than the usual 1024.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
if (($(ulimit -n) < 2100)); then
  echo "run.sh: needs at least 2100 open files (ulimit -n), has $(ulimit -n)" >&2
  exit 1
fi

# --- work folder and clean-up --------------------------------------------------------------
work=$(mktemp -d /tmp/relaydash-bench.XXXXXX)
chmod 755 "$work"  # the nginx worker may run as another user and reads the files here
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- what both servers serve ---------------------------------------------------------------
# The web application as relaydash serves it (minified by the build), so both send the same bytes.
served="$(dirname "$relaydash_bin")/src/ui/served"
ui_file=$(cd "$served" && find . -type f -printf '%s %P\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
[[ -n $ui_file ]] || { echo "run.sh: no file under $served/" >&2; exit 1; }
ui_size=$(stat -c %s "$served/$ui_file")
mkdir -p "$work/www/ui/$(dirname "$ui_file")" "$work/nginx"
cp "$served/$ui_file" "$work/www/ui/$ui_file"
chmod -R a+rX "$work/www"
cp "$root/tests/data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json" \
  "$work/global_conf.json"

# One worker, as relaydash has one thread.
write_nginx_conf "$work" "$host" "$ng_port" 'worker_processes 1;'

wait_for_port() { wait_until_listening "$host" "$1" 100; }  # for at most 10 s

taskset -c 0 "$relaydash_bin" --listen "$host" --port "$rd_port" \
  --dataPath "$work/db.sqlite3" --forwarderConfigPath "$work/global_conf.json" \
  --forwarderUnitServiceName "" >"$work/relaydash.log" 2>&1 &
rd_pid=$!
pids+=("$rd_pid")
taskset -c 0 nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" \
  >"$work/nginx.out" 2>&1 &
ng_pid=$!
pids+=("$ng_pid")
wait_for_port "$rd_port" || { cat "$work/relaydash.log" >&2; exit 1; }
wait_for_port "$ng_port" || { cat "$work/nginx/error.log" >&2; exit 1; }
# relaydash serves its files without their comment lines: the others serve those same bytes.
curl -sS -o "$work/www/ui/$ui_file" "http://$host:$rd_port/ui/$ui_file"
ui_size=$(stat -c %s "$work/www/ui/$ui_file")
cc -O2 -o "$work/minimal_server" "$bench/minimal_server.c"
taskset -c 0 "$work/minimal_server" "$host" "$mn_port" "/ui/$ui_file" "$work/www/ui/$ui_file" \
  >"$work/minimal.log" 2>&1 &
mn_pid=$!
pids+=("$mn_pid")
wait_for_port "$mn_port" || { cat "$work/minimal.log" >&2; exit 1; }
ng_worker=$(pgrep -P "$ng_pid" | head -n 1)
[[ -n $ng_worker ]] || { echo "run.sh: nginx started no worker" >&2; exit 1; }

# --- measurements --------------------------------------------------------------------------
clk_tck=$(getconf CLK_TCK)

cpu_ticks() {  # PID...: user and system clock ticks (fields 14 and 15 of /proc/PID/stat), summed
  local pid stat user=0 system=0 f
  for pid in "$@"; do
    stat=$(<"/proc/$pid/stat")
    # The fields after the command name, which may hold spaces, start at field 3.
    read -ra f <<<"${stat##*) }"
    user=$((user + f[11]))
    system=$((system + f[12]))
  done
  echo "$user $system"
}

rss_kib() {  # PID
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

server_pids() {  # SERVER
  case $1 in
    relaydash) echo "$rd_pid" ;;
    nginx) echo "$ng_pid $ng_worker" ;;
    minimal) echo "$mn_pid" ;;
  esac
}

server_port() {  # SERVER
  case $1 in
    relaydash) echo "$rd_port" ;;
    nginx) echo "$ng_port" ;;
    minimal) echo "$mn_port" ;;
  esac
}

load_args() {  # LOAD: sets wrk's arguments (but the URL) and the path for that load
  case $1 in
    health-c1) args=(-c 1) path=/health ;;
    health-c64) args=(-c 64) path=/health ;;
    health-c512) args=(-c 512) path=/health ;;
    health-close) args=(-c 64 -H "Connection: close") path=/health ;;
    health-pipe16) args=(-c 64 -s "$bench/pipeline.lua") path=/health ;;
    ui-c64) args=(-c 64) path=/ui/$ui_file ;;
    login-c64) args=(-c 64 -s "$bench/login.lua") path=/rpc/v1/login/password ;;
  esac
}

results=$work/results.tsv
printf 'load\tserver\tround\tconnections\trequests\trps\tp99_ms\tcpu_us_per_req\tuser_us_per_req\terrors\tnon2xx\n' \
  >"$results"

run_load() {  # LOAD SERVER ROUND SECONDS: one bounded wrk run; a result line unless warm-up
  local load=$1 server=$2 round=$3 seconds=$4 args path before after out
  local user_before system_before user_after system_after
  load_args "$load"
  # shellcheck disable=SC2046
  before=$(cpu_ticks $(server_pids "$server"))
  # wrk's own timeout (30 s) keeps slow answers in the latency figures instead of dropping them.
  out=$(timeout $((seconds + 60)) taskset -c 1 wrk -t 1 -d "${seconds}s" --timeout 30s \
    --latency "${args[@]}" "http://$host:$(server_port "$server")$path")
  # shellcheck disable=SC2046
  after=$(cpu_ticks $(server_pids "$server"))
  [[ $round == warm-up ]] && return 0
  read -r user_after system_after <<<"$after"
  read -r user_before system_before <<<"$before"
  awk -v load="$load" -v server="$server" -v round="$round" -v hz="$clk_tck" -v conns="${args[1]}" \
    -v ticks=$((user_after + system_after - user_before - system_before)) \
    -v user_ticks=$((user_after - user_before)) '
    / requests in / { requests = $1 }
    /^Requests\/sec:/ { rps = $2 }
    /^ +99%/ {
      v = $2
      if (v ~ /us$/) p99 = v / 1000; else if (v ~ /ms$/) p99 = v + 0
      else if (v ~ /m$/) p99 = v * 60000; else p99 = v * 1000
    }
    /Socket errors:/ { gsub(/,/, ""); errors = $4 + $6 + $8 + $10 }
    /Non-2xx or 3xx responses:/ { non2xx = $NF }
    END {
      cpu = requests > 0 ? ticks / hz * 1e6 / requests : 0
      user = requests > 0 ? user_ticks / hz * 1e6 / requests : 0
      printf "%s\t%s\t%s\t%d\t%d\t%.1f\t%.3f\t%.3f\t%.3f\t%d\t%d\n", load, server, round, conns,
        requests, rps, p99, cpu, user, errors, non2xx
    }' <<<"$out" | tee -a "$results" >&2
}

# Resident memory first, before any request has touched the database or the crypto library.
facts=$work/facts.tsv
echo "rss_idle_kib $(rss_kib "$rd_pid")" >"$facts"

# 1000 idle connections, held by a helper until every one of them is accepted.
fds_before=$(find "/proc/$rd_pid/fd" -mindepth 1 | wc -l)
python3 "$bench/hold_connections.py" "$rd_port" 1000 "$work/held" 60 &
holder=$!
pids+=("$holder")
for ((i = 0; i < 300; i++)); do
  if [[ -s $work/held ]] && (($(find "/proc/$rd_pid/fd" -mindepth 1 | wc -l) >= fds_before + 1000)); then
    break
  fi
  sleep 0.1
done
(($(find "/proc/$rd_pid/fd" -mindepth 1 | wc -l) >= fds_before + 1000)) || {
  echo "run.sh: relaydash did not accept the 1000 connections" >&2
  exit 1
}
sleep 1
echo "rss_1000_kib $(rss_kib "$rd_pid")" >>"$facts"
kill "$holder"
wait "$holder" 2>/dev/null || true
sleep 1
echo "rss_released_kib $(rss_kib "$rd_pid")" >>"$facts"
echo "rss_minimal_kib $(rss_kib "$mn_pid")" >>"$facts"
echo "rss_nginx_kib $(rss_kib "$ng_worker")" >>"$facts"

# The servers must give the same answers, or the comparison means nothing.
check_same() {  # PATH
  local a b port
  a=$(curl -sS -D - "http://$host:$rd_port$1" -o "$work/body.rd" | grep -i '^content-type' || true)
  for port in "$ng_port" "$mn_port"; do
    b=$(curl -sS -D - "http://$host:$port$1" -o "$work/body.other" | grep -i '^content-type' || true)
    if ! cmp -s "$work/body.rd" "$work/body.other" || [[ ${a,,} != "${b,,}" ]]; then
      echo "run.sh: relaydash and the server on port $port answer $1 differently ($a / $b)" >&2
      exit 1
    fi
  done
}
check_same /health
check_same "/ui/$ui_file"
login_status=$(curl -sS -o /dev/null -w '%{http_code}' -H 'Content-Type: application/json' \
  --data '{"username":"admin","password":"quilm"}' "http://$host:$rd_port/rpc/v1/login/password")
[[ $login_status == 200 ]] || { echo "run.sh: login answered $login_status" >&2; exit 1; }
if curl -sS -D - -o /dev/null -H 'Connection: close' "http://$host:$rd_port/health" |
  grep -qi '^connection: *close'; then
  close_echoed=1
else
  close_echoed=0
fi
echo "close_echoed $close_echoed" >>"$facts"
echo "rss_checked_kib $(rss_kib "$rd_pid")" >>"$facts"

loads=(health-c1 health-c64 health-c512 health-close health-pipe16 ui-c64)
echo "load runs: ${#loads[@]} loads on each server and login on relaydash," \
  "$rounds round(s) of ${duration} s each; columns: $(head -n 1 "$results")" >&2
if ((warmup > 0)); then
  run_load health-c64 relaydash warm-up "$warmup"
  run_load health-c64 nginx warm-up "$warmup"
  run_load health-c64 minimal warm-up "$warmup"
fi
for ((round = 1; round <= rounds; round++)); do
  for load in "${loads[@]}"; do
    # Who goes first rotates, so no server always runs on a warmer machine.
    case $((round % 3)) in
      1) order=(relaydash nginx minimal) ;;
      2) order=(nginx minimal relaydash) ;;
      0) order=(minimal relaydash nginx) ;;
    esac
    for server in "${order[@]}"; do
      run_load "$load" "$server" "$round" "$duration"
    done
  done
  run_load login-c64 relaydash "$round" "$duration"
done
sleep 1
echo "rss_after_kib $(rss_kib "$rd_pid")" >>"$facts"

# --- report --------------------------------------------------------------------------------
{
  echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores," \
    "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
    "Linux $(uname -r); nginx $(nginx -v 2>&1 | sed 's|.*/||'), wrk $(wrk -v 2>&1 |
      awk 'NR == 1 { print $2 }'); load average before: $load_before."
  echo "Runs: $rounds round(s) × ${duration} s, medians shown; UI file: /ui/$ui_file" \
    "($ui_size bytes); server on core 0, wrk -t 1 on core 1."
  echo
  python3 "$bench/summarize.py" "$results" "$facts"
} >"$work/table.md"
cat "$work/table.md"
if [[ -n $keep_dir ]]; then
  mkdir -p "$keep_dir"
  cp "$results" "$facts" "$work/table.md" "$keep_dir/"
fi
if [[ -n $tls ]]; then
  echo
  bash "$bench/tls.sh" -d "$duration" -r "$rounds"
fi
