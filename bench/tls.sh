#!/usr/bin/env bash
# bench/tls.sh: relaydash's HTTPS beside nginx's on this machine (loopback only), both with the
# same certificate (the one relaydash makes for itself), protocols (TLS 1.2 and 1.3), tickets
# on and no session cache.
#
# Usage: bench/tls.sh [-d SECONDS] [-r ROUNDS]
#   -d SECONDS  length of each load (default 5); -r ROUNDS  rounds, servers alternating (default 3)
# Environment: RELAYDASH_BIN (default build/relaydash), ports 18090 (relaydash) and 18091 (nginx).
#
# The servers run on core 0, the clients on core 1. For each load it prints each server's CPU
# time (user + system, from /proc) per request or per handshake, the median over the rounds, and
# relaydash/nginx: keep-alive /health over TLS 1.3 (wrk, 1 and 64 connections), the largest
# file of the web application over TLS (64 connections), a full handshake per connection and a
# resumed one (openssl s_time -new and -reuse, TLS 1.3, /health each). Then resident memory:
# relaydash just started with HTTPS on, and each server's cost of 500 TLS connections left idle
# after one request each (nginx: its worker).
set -euo pipefail
duration=5
rounds=3
while getopts "d:r:h" opt; do
  case $opt in
    d) duration=$OPTARG ;;
    r) rounds=$OPTARG ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
bench=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$bench/.." && pwd)
# shellcheck source=bench/common.sh
source "$bench/common.sh"
bin=${RELAYDASH_BIN:-$root/build/relaydash}
host=127.0.0.1
rd_port=18090
ng_port=18091
for tool in wrk nginx openssl python3 taskset curl; do
  command -v "$tool" >/dev/null || { echo "tls.sh: $tool is missing (apt install wrk nginx openssl python3 curl)" >&2; exit 1; }
done
[[ -x $bin ]] || { echo "tls.sh: no $bin: build it first (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$root/tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json" "$work/conf.json"
start_relaydash() {
  taskset -c 0 "$bin" --listen "$host" --port "$rd_port" --dataPath "$work/db.sqlite3" \
    --forwarderConfigPath "$work/conf.json" >"$work/relaydash.log" 2>&1 &
  rd_pid=$!
  pids+=("$rd_pid")
  wait_until_listening "$host" "$rd_port" 50
  sleep 0.5
}
start_relaydash
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
rd_idle=$(rss "$rd_pid")

# The largest file of the web application as relaydash serves it, for nginx to serve too.
mkdir -p "$work/www/ui" "$work/nginx"
served="$(dirname "$bin")/src/ui/served"
largest=$(cd "$served" && find . -type f -printf '%s %P\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
mkdir -p "$work/www/ui/$(dirname "$largest")"
curl -sk -o "$work/www/ui/$largest" "https://$host:$rd_port/ui/$largest"
# OpenSSL comes in with the first TLS connection.
sleep 0.5
rd_used=$(rss "$rd_pid")
chmod -R a+rX "$work/www"

write_nginx_conf "$work" "$host" "$ng_port" "worker_processes 1;"
sed -i "s|listen $host:$ng_port backlog=4096;|listen $host:$ng_port ssl backlog=4096;\n    ssl_certificate $work/tls/relaydash.crt;\n    ssl_certificate_key $work/tls/relaydash.key;\n    ssl_protocols TLSv1.2 TLSv1.3;\n    ssl_session_tickets on;\n    ssl_session_cache off;|" "$work/nginx/nginx.conf"
taskset -c 0 nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
wait_until_listening "$host" "$ng_port" 50
sleep 0.3
ng_worker=$(pgrep -P "$(cat "$work/nginx/nginx.pid")" | head -n1)
ng_master=$(cat "$work/nginx/nginx.pid")

cpu_ticks() { local t=0 p; for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat"))); done; echo "$t"; }
hz=$(getconf CLK_TCK)

# run LOAD PORT: prints "COUNT" of requests or handshakes the client finished.
run() {
  local load=$1 port=$2 out
  case $load in
    health-c1) out=$(taskset -c 1 wrk -t1 -c1 -d"${duration}s" "https://$host:$port/health") ;;
    health-c64) out=$(taskset -c 1 wrk -t1 -c64 -d"${duration}s" "https://$host:$port/health") ;;
    ui-c64) out=$(taskset -c 1 wrk -t1 -c64 -d"${duration}s" "https://$host:$port/ui/$largest") ;;
    full) out=$(taskset -c 1 openssl s_time -connect "$host:$port" -new -time "$duration" -www /health 2>&1) ;;
    resumed) out=$(taskset -c 1 openssl s_time -connect "$host:$port" -reuse -time "$duration" -www /health 2>&1) ;;
  esac
  case $load in
    full | resumed) grep -m1 -oE '^[0-9]+ connections in' <<<"$out" | cut -d' ' -f1 ;;
    *) grep -oE '[0-9]+ requests in' <<<"$out" | cut -d' ' -f1 ;;
  esac
}

loads=(health-c1 health-c64 ui-c64 full resumed)
declare -A rd_us ng_us
for ((round = 1; round <= rounds; round++)); do
  for load in "${loads[@]}"; do
    for server in relaydash nginx; do
      if [[ $server == relaydash ]]; then port=$rd_port; procs=("$rd_pid"); else port=$ng_port; procs=("$ng_master" "$ng_worker"); fi
      before=$(cpu_ticks "${procs[@]}")
      count=$(run "$load" "$port")
      after=$(cpu_ticks "${procs[@]}")
      us=$(python3 -c "print(f'{($after - $before) / $hz * 1e6 / max($count, 1):.2f}')")
      if [[ $server == relaydash ]]; then rd_us[$load]+="$us "; else ng_us[$load]+="$us "; fi
    done
  done
done
median() { python3 -c "import statistics,sys; print(f'{statistics.median(map(float, sys.argv[1:])):.2f}')" "$@"; }

echo
echo "| Load (TLS 1.3 unless said) | CPU µs relaydash | CPU µs nginx | × nginx |"
echo "|---|--:|--:|--:|"
declare -A names=([health-c1]="/health, 1 keep-alive connection (per request)" [health-c64]="/health, 64 keep-alive connections (per request)" [ui-c64]="$largest ($(stat -c %s "$work/www/ui/$largest") bytes), 64 keep-alive connections (per request)" [full]="a full handshake per connection, then /health" [resumed]="a resumed handshake (ticket) per connection, then /health")
for load in "${loads[@]}"; do
  r=$(median ${rd_us[$load]}) n=$(median ${ng_us[$load]})
  echo "| ${names[$load]} | $r | $n | $(python3 -c "print(f'{$r / $n:.2f}')") |"
done

# 500 TLS connections, each handshaken and answered once, then left open and idle.
hold() {
  python3 - "$1" <<'PY' &
import socket, ssl, sys, time
port = int(sys.argv[1])
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
held = []
for _ in range(500):
    s = ctx.wrap_socket(socket.create_connection(("127.0.0.1", port)))
    s.sendall(b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n")
    s.recv(4096)
    held.append(s)
print("held", flush=True)
time.sleep(30)
PY
}
measure_idle() {
  local port=$1 pid=$2 before after holder
  before=$(rss "$pid")
  hold "$port" >"$work/hold.out"
  holder=$!
  for _ in $(seq 1 200); do grep -q held "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  after=$(rss "$pid")
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  echo "$before $after"
}
read -r rb ra < <(measure_idle "$rd_port" "$rd_pid")
read -r nb na < <(measure_idle "$ng_port" "$ng_worker")
echo
echo "| Resident memory (VmRSS) | relaydash | nginx's worker |"
echo "|---|--:|--:|"
echo "| just started, HTTPS on | $rd_idle KiB | – |"
echo "| after one HTTPS request | $rd_used KiB | – |"
echo "| before the idle connections | $rb KiB | $nb KiB |"
echo "| with 500 idle TLS connections | $ra KiB | $na KiB |"
echo "| per idle TLS connection | $(python3 -c "print(f'{($ra - $rb) * 1024 / 500:.0f}')") bytes | $(python3 -c "print(f'{($na - $nb) * 1024 / 500:.0f}')") bytes |"
