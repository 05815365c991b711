#!/usr/bin/env bash
# A real Prometheus scraping three relaydash servers on 127.0.0.1 (scripts/lib/local-gateways.sh)
# for a minute, with the alert rules the repository ships (monitoring/). Checks that
#   - promtool finds the rules and the example configuration sound, and the rules' own tests
#     (monitoring/relaydash-alerts.test.yml) pass;
#   - each gateway makes a metrics key through its API, and its /metrics answers as any unknown
#     path does without a key, 401 to a wrong one, and promtool check metrics finds its answer
#     sound;
#   - Prometheus, configured as monitoring/prometheus.yml says (a job per gateway, each with its
#     own key, all labelled job="relaydash"), scrapes the three for a minute without a failed
#     scrape; the forwarder's statistics reports, written into the stand-in journal as they
#     come, show as counters that grow;
#   - the rules judge the live series: gateway 2's forwarder is stopped (ForwarderDown),
#     gateway 3's network server acknowledges nothing (NetworkServerNotAcknowledging), and
#     gateway 1, healthy, has no alert;
#   - a key revoked on gateway 3 is refused at the next scrape (401), and the audit trail has
#     the key's creation and revocation.
# Installs nothing: says what is missing (Debian: prometheus). RELAYDASH names the server binary
# (default build/relaydash).
set -euo pipefail
source "$(dirname "$0")/lib/local-gateways.sh"
gateways_need "prometheus curl python3" prometheus promtool curl python3

gateways_work prometheus

sample=tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json
unit=packet-forwarder

# json EXPRESSION: evaluates a Python expression on the JSON document read from standard input,
# named d, and prints the result (strings as they are, anything else as JSON).
json() {
  python3 -c 'import json, sys
d = json.load(sys.stdin)
r = eval(sys.argv[1])
print(r if isinstance(r, str) else json.dumps(r))' "$1"
}

echo "== the rules and the example configuration"
check "promtool check rules" quietly promtool check rules monitoring/relaydash-alerts.yml
check "promtool test rules: the rules' own tests" quietly promtool test rules monitoring/relaydash-alerts.test.yml
# The example names key files under /etc/prometheus/relaydash/, which promtool wants to exist.
mkdir -p "$work/example"
sed "s#/etc/prometheus/relaydash/#$work/example/#" monitoring/prometheus.yml >"$work/example/prometheus.yml"
cp monitoring/relaydash-alerts.yml "$work/example/"
for file in $(grep -o "$work/example/[^ ]*" "$work/example/prometheus.yml"); do : >"$file"; done
check "promtool check config: the example configuration" quietly promtool check config "$work/example/prometheus.yml"

for n in 1 2 3; do gateway_start "$n"; done

# call N PROCEDURE INPUT: the output of a procedure of gateway N, signed in as admin.
declare -A auth
call() {
  local n=$1 procedure=$2 input=${3:-"{}"}
  curl -sS --max-time 10 "http://127.0.0.1:${port[$n]}/rpc/$procedure" \
    -d "{\"auth\":\"${auth[$n]}\",\"input\":$input}"
}
declare -A key key_id
for n in 1 2 3; do
  auth[$n]=$(curl -sS --max-time 10 "http://127.0.0.1:${port[$n]}/rpc/login/password" \
    -d '{"username":"admin","password":"quilm"}' | json 'd["output"]["auth"]')
  created=$(call "$n" metrics-keys/create '{"name":"prometheus"}')
  key[$n]=$(json 'd["output"]["key"]' <<<"$created")
  key_id[$n]=$(json 'd["output"]["id"]' <<<"$created")
  printf '%s' "${key[$n]}" >"$work/gw$n.key"
  chmod 600 "$work/gw$n.key"
done
check "each gateway made a key" test -n "${key[1]}" -a -n "${key[2]}" -a -n "${key[3]}"
check "no key is another's" test "${key[1]}" != "${key[2]}" -a "${key[2]}" != "${key[3]}"

echo "== /metrics by hand"
url=http://127.0.0.1:${port[1]}
# head_and_body URL [curl options]: the status line, the headers but Date, and the body.
head_and_body() { curl -sS -i --max-time 10 "$@" | tr -d '\r' | grep -v '^Date:'; }
check "without a key, /metrics answers as an unknown path does" \
  cmp -s <(head_and_body "$url/metrics") <(head_and_body "$url/no-such-path")
check "a wrong key is refused with 401" \
  test "$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer rdm_wrong" "$url/metrics")" = 401
curl -sS --max-time 10 -H "Authorization: Bearer ${key[1]}" -o "$work/scrape" -D "$work/scrape.head" "$url/metrics"
check "the key is accepted" grep -q '^HTTP/1.1 200' "$work/scrape.head"
check "the answer says it is the text format 0.0.4" grep -qi '^Content-Type: text/plain; version=0.0.4' "$work/scrape.head"
check "promtool check metrics finds nothing to say" \
  bash -c "promtool check metrics <'$work/scrape' >'$work/lint' 2>&1 && test ! -s '$work/lint' || { cat '$work/lint'; false; }"

# The statistics reports the forwarders write, as the journal holds them: gateway 3's network
# server acknowledges nothing.
entry_number=0
# report N ACKNOWLEDGED: appends one report to gateway N's journal, ACKNOWLEDGED (percent) of
# its PUSH_DATA and PULL_DATA acknowledged.
report() {
  local n=$1 ack=$2 now line lines=()
  now=$(date +%s%6N)
  lines=("##### $(date -u '+%Y-%m-%d %H:%M:%S') GMT #####" "### [UPSTREAM] ###"
    "# RF packets received by concentrator: 12" "# CRC_OK: 75.00%, CRC_FAIL: 25.00%, NO_CRC: 0.00%"
    "# RF packets forwarded: 9 (207 bytes)" "# PUSH_DATA datagrams sent: 10 (1720 bytes)"
    "# PUSH_DATA acknowledged: $ack.00%" "### [DOWNSTREAM] ###"
    "# PULL_DATA sent: 4 ($ack.00% acknowledged)" "# PULL_RESP(onse) datagrams received: 1 (200 bytes)"
    "# RF packets sent to concentrator: 1 (30 bytes)" "# TX errors: 0"
    "### [GPS] ###" "# GPS sync is disabled" "##### END #####")
  for line in "${lines[@]}"; do
    entry_number=$((entry_number + 1))
    printf '{"__CURSOR":"s=t;i=%x","__REALTIME_TIMESTAMP":"%s","PRIORITY":"6","_PID":"4242","MESSAGE":"%s"}\n' \
      "$entry_number" "$now" "$line"
  done >>"$work/gw$n/bin/state/journal-$unit.jsonl"
}
for n in 1 2 3; do report "$n" 100; done

echo "== Prometheus scrapes the three for a minute"
# Gateway 2's forwarder stops.
PATH="$work/gw2/bin:$PATH" systemctl stop "$unit"
pport=
for _ in 1 2 3 4 5; do
  pport=$((20000 + RANDOM % 40000))
  curl -s --max-time 1 "http://127.0.0.1:$pport/" >/dev/null 2>&1 || break
done
mkdir -p "$work/prometheus"
cp monitoring/relaydash-alerts.yml "$work/prometheus/"
{
  echo "global: {scrape_interval: 2s, evaluation_interval: 2s}"
  echo "rule_files: [relaydash-alerts.yml]"
  echo "scrape_configs:"
  for n in 1 2 3; do
    echo "  - job_name: relaydash-gw$n"
    echo "    authorization: {credentials_file: $work/gw$n.key}"
    echo "    static_configs: [{targets: ['127.0.0.1:${port[$n]}'], labels: {gateway: gw$n}}]"
    echo "    relabel_configs: [{target_label: job, replacement: relaydash}]"
  done
} >"$work/prometheus/prometheus.yml"
check "promtool check config: the test's configuration" quietly promtool check config "$work/prometheus/prometheus.yml"
prometheus --config.file="$work/prometheus/prometheus.yml" --storage.tsdb.path="$work/prometheus/data" \
  --web.listen-address="127.0.0.1:$pport" --log.level=warn >"$work/prometheus/log" 2>&1 &
prometheus_pid=$!
pids+=("$prometheus_pid")
# Reports keep coming every two seconds for at most four minutes (the script ends it sooner).
(for _ in $(seq 120); do
  report 1 100
  report 3 0
  sleep 2
done) &
pids+=($!)

api=http://127.0.0.1:$pport/api/v1
# query EXPRESSION: the result of an instant query, as JSON: [{"metric": {...}, "value": [t, "v"]}, ...].
query() { curl -sS --max-time 10 "$api/query" --data-urlencode "query=$1" | json 'd["data"]["result"]'; }
# scalar EXPRESSION: the value of a query that gives one series, or "none".
scalar() { query "$1" | json 'd[0]["value"][1] if d else "none"'; }

for _ in $(seq 300); do
  curl -s --max-time 1 "http://127.0.0.1:$pport/-/ready" >/dev/null 2>&1 && break
  kill -0 "$prometheus_pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$prometheus_pid" 2>/dev/null || { echo "Prometheus did not start:"; cat "$work/prometheus/log"; exit 1; }
# A minute of scrapes: 30 of each target at 2 s, waited for at most three minutes.
began=$SECONDS
while ((SECONDS - began < 180)); do
  scraped=$(scalar 'min(count_over_time(up{job="relaydash"}[5m]))')
  [[ $scraped != none ]] && ((scraped >= 30)) && break
  sleep 2
done
echo "   scrapes of each gateway: ${scraped:-none} in $((SECONDS - began)) s"
check "Prometheus scraped each gateway 30 times" test "${scraped:-0}" != none -a "${scraped:-0}" -ge 30
check "no scrape failed" test "$(scalar 'sum(count_over_time(up{job="relaydash"}[5m])) - sum(sum_over_time(up{job="relaydash"}[5m]))')" = 0
check "three gateways, each with its version" test "$(scalar 'count(relaydash_build_info{job="relaydash"})')" = 3
check "each gateway's plan is EU868" \
  test "$(scalar 'count(relaydash_forwarder_frequency_plan_info{job="relaydash",region="EU868"})')" = 3
check "gateway 1's forwarder is active" \
  test "$(scalar 'relaydash_forwarder_unit_state{gateway="gw1",state="active"}')" = 1
check "gateway 2's forwarder is not" \
  test "$(scalar 'relaydash_forwarder_unit_state{gateway="gw2",state="active"}')" = 0
check "gateway 1's packets received grew over the minute" \
  test "$(scalar 'increase(relaydash_forwarder_radio_packets_received_total{gateway="gw1"}[1m]) > 0')" != none
check "gateway 1's PUSH_DATA were acknowledged" \
  test "$(scalar 'increase(relaydash_forwarder_push_data_acknowledged_total{gateway="gw1"}[1m]) > 0')" != none
check "gateway 3's PULL_DATA were sent and none acknowledged" \
  test "$(scalar 'increase(relaydash_forwarder_pull_data_sent_total{gateway="gw3"}[1m]) > 0 and increase(relaydash_forwarder_pull_data_acknowledged_total{gateway="gw3"}[1m]) == 0')" != none
check "gateway 1's newest report is at most a minute old" \
  test "$(scalar 'relaydash_forwarder_statistics_report_age_seconds{gateway="gw1"} < 60')" != none
printf '   scrape duration as Prometheus saw it, median %.1f ms, longest %.1f ms (the first, which waits for the first reading of the gateway)\n' \
  "$(scalar 'quantile(0.5, quantile_over_time(0.5, scrape_duration_seconds{job="relaydash"}[5m])) * 1000')" \
  "$(scalar 'max(max_over_time(scrape_duration_seconds{job="relaydash"}[5m])) * 1000')"

# alerts: "NAME GATEWAY STATE" per alert, pending or firing.
alerts() {
  curl -sS --max-time 10 "$api/alerts" |
    json '"\n".join(sorted(a["labels"]["alertname"] + " " + a["labels"].get("gateway", "?") + " " + a["state"] for a in d["data"]["alerts"]))'
}
alerts >"$work/alerts"
echo "   alerts, pending or firing:"
sed 's/^/     /' "$work/alerts"
check "ForwarderDown holds for gateway 2" grep -q '^ForwarderDown gw2 ' "$work/alerts"
check "NetworkServerNotAcknowledging holds for gateway 3" grep -q '^NetworkServerNotAcknowledging gw3 ' "$work/alerts"
check "gateway 1 has no alert" bash -c "! grep -q ' gw1 ' '$work/alerts'"
check "no alert holds for the wrong gateway" \
  bash -c "! grep -Eq '^(ForwarderDown gw[13]|NetworkServerNotAcknowledging gw[12]) ' '$work/alerts'"

echo "== a revoked key"
revoked=$(call 3 metrics-keys/revoke "{\"id\":${key_id[3]}}")
check "gateway 3 revokes its key" test "$(json '"output" in d' <<<"$revoked")" = true
# target_error: gateway 3's target's health and last error, once Prometheus scraped it again.
target_error() {
  curl -sS --max-time 10 "$api/targets" |
    json '" ".join(t["health"] + " " + t["lastError"] for t in d["data"]["activeTargets"] if t["labels"].get("gateway") == "gw3")'
}
for _ in $(seq 60); do
  state=$(target_error)
  [[ $state == down* ]] && break
  sleep 0.5
done
echo "   gateway 3's target: $state"
check "Prometheus's next scrape of gateway 3 is refused with 401" grep -q '^down .*401' <<<"$state"
check "gateway 1 is still scraped" test "$(scalar 'up{gateway="gw1"}')" = 1
call 3 audit/list '{"limit":20}' >"$work/audit"
check "gateway 3's audit trail has the key's creation" grep -q '"action":"metrics-key-create"' "$work/audit"
check "gateway 3's audit trail has the key's revocation" grep -q '"action":"metrics-key-revoke"' "$work/audit"
check "the audit trail never holds the key" bash -c "! grep -qF '${key[3]}' '$work/audit'"

if ((failures)); then
  echo "--- Prometheus's log"
  cat "$work/prometheus/log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "every check passed"
