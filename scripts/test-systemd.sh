#!/usr/bin/env bash
# The amd64 package under a real systemd: a Debian root booted with systemd-nspawn, the package
# installed into it with apt, and the service checked through relaydash's JSON API on the
# container's own loopback. A stand-in forwarder (scripts/lib/dummy-forwarder, a unit of its own
# fed a real configuration from tests/data/forwarder) is what relaydash restarts and watches.
# Checked: a first installation while the port is taken fails its start and says so; then the
# unit is enabled and running; gateway/status (units, network interfaces, clock, systemd asked
# over D-Bus) and gateway/logs; a good change restarts the forwarder, a change that makes it exit
# is rolled back;
# sshd/stop and sshd/start; a restore; systemd starts relaydash again after kill -9; the unit's
# `systemd-analyze security` exposure is at most 3.5; the first password is the gateway's own
# (a file for root alone, removed once the password is changed); HTTPS on the same port (the
# same /health, the certificate's fingerprint as a client sees it, in the fingerprint file and
# in the installation's message, its key for root alone, a new certificate for a new host name,
# an operator's certificate in /etc/relaydash/tls winning after a restart, the redirect of plain
# HTTP from another address); an edited /etc/default/relaydash survives an upgrade; remove keeps
# the account database, purge deletes it; both keep the operator's certificate.
#
# The root (debootstrap, minbase and what the checks need) is kept in .cache/test-systemd and
# made again only when its package list changes; every run boots a fresh overlay of it, so runs
# do not depend on each other. Nothing leaves the container: it has a network of its own.
# Takes dist/relaydash_VERSION_amd64.deb (made by scripts/package.sh amd64 when missing), or the
# package RELAYDASH_DEB names. Needs root and scripts/setup.sh systemd package.
# test-systemd.sh --prepare only makes the root, and exits 75 (EX_TEMPFAIL) with debootstrap's
# message when its packages cannot be downloaded (a mirror out of sync): CI then skips the stage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
began=$SECONDS

if [[ $(id -u) -ne 0 ]]; then
  echo "test-systemd: must run as root (debootstrap, systemd-nspawn, nsenter)" >&2
  exit 1
fi
for tool in debootstrap systemd-nspawn unshare nsenter ip ss curl openssl dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "test-systemd: $tool is missing: scripts/setup.sh systemd package" >&2
    exit 1
  fi
done

# The container's root. Its key is everything that shapes it: when the key changes, it is made
# again.
# shellcheck source=scripts/lib/container.sh
. scripts/lib/container.sh
# systemd as init, D-Bus for timedatectl, ssh for sshd/start and stop, and the libraries the
# package depends on (the container has no network, so apt finds them installed).
container_root "$root/.cache/test-systemd" \
  systemd,systemd-sysv,dbus,openssh-server,libsqlite3-0,libsodium23,libssl3 test-systemd
[[ ${1:-} == --prepare ]] && exit 0

version=$(sed -n 's/^project(relaydash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${RELAYDASH_DEB:-dist/relaydash_${version}_amd64.deb}
if [[ -z ${RELAYDASH_DEB:-} && ! -f $deb ]]; then scripts/package.sh amd64; fi
[[ -f $deb ]] || { echo "test-systemd: no package $deb" >&2; exit 1; }
version=$(dpkg-deb -f "$deb" Version)

work=$(mktemp -d /tmp/relaydash-systemd.XXXXXX)
nspawn=
trap container_cleanup EXIT
# Interrupted, the script still shuts the container down and removes its files.
trap 'exit 130' INT TERM HUP

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# What the run adds to the root: the packages, and the stand-in forwarder, enabled, with a real
# configuration. Written into the overlay's upper layer before it is mounted.
upper=$work/upper
mkdir -p "$upper/var/tmp/relaydash" "$upper/etc/dummy-forwarder" "$upper/usr/local/bin" \
  "$upper/etc/systemd/system/multi-user.target.wants" "$work/overlay" "$work/merged"
sample=tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json
cp "$sample" "$upper/etc/dummy-forwarder/global_conf.json"
# Owned by another user (nobody), as a forwarder's files may be: relaydash, root with only the
# capabilities its unit leaves it, must still write there and keep the owner.
chown -R 65534:65534 "$upper/etc/dummy-forwarder"
chmod 0755 "$upper/etc/dummy-forwarder"
chmod 0644 "$upper/etc/dummy-forwarder/global_conf.json"
install -m 0755 scripts/lib/dummy-forwarder "$upper/usr/local/bin/dummy-forwarder"
cp scripts/lib/dummy-forwarder.service "$upper/etc/systemd/system/"
ln -s ../dummy-forwarder.service \
  "$upper/etc/systemd/system/multi-user.target.wants/dummy-forwarder.service"
cp "$deb" "$upper/var/tmp/relaydash/relaydash.deb"
# The same package, one version later: an upgrade.
dpkg-deb -R "$deb" "$work/next"
sed -i "s/^Version: .*/Version: $version+1/" "$work/next/DEBIAN/control"
dpkg-deb -b "$work/next" "$upper/var/tmp/relaydash/relaydash-next.deb" >/dev/null
rm -rf "$work/next"

echo "== booting the container"
booted=$SECONDS
boot_container "$root/.cache/test-systemd/root" test-systemd
[[ $container_state == running ]] || fail "booted degraded: $(inside systemctl --failed --no-legend)"
echo "booted in $((SECONDS - booted)) s ($container_state)"

# Besides loopback, which relaydash does not list, an interface for gateway/status to show: a
# veth pair inside the container's own network namespace (documentation addresses).
in_network ip link add relay0 type veth peer name relay1
in_network ip address add 192.0.2.1/24 dev relay0
in_network ip link set relay1 up
in_network ip link set relay0 up

port=9992
apt_inside() {
  inside apt-get -y -q -o Dpkg::Use-Pty=0 "$@"
}
status() {
  # shellcheck disable=SC2016
  inside dpkg-query -W -f='${Status} ${Version}' relaydash 2>/dev/null || true
}
unit_property() {
  inside systemctl show --property="$2" --value "$1"
}
# call PROCEDURE BODY [SCHEME]: the answer in $answer, its HTTP status in $code. Over https the
# certificate is not checked: it is the gateway's own, self-signed.
call() {
  code=$(in_network curl -s -k --max-time 60 -o "$work/answer" -w '%{http_code}' -X POST \
    --data "$2" "${3:-http}://127.0.0.1:$port/rpc/v1/$1") || true
  answer=$(cat "$work/answer" 2>/dev/null || true)
  rm -f "$work/answer"
}
health() {
  in_network curl -s -k --max-time 5 "${1:-http}://127.0.0.1:$port/health" || true
}
# The SHA-256 fingerprint of the certificate the server presents, as a TLS client reads it.
served_fingerprint() {
  in_network timeout 30 openssl s_client -connect "127.0.0.1:$port" </dev/null 2>/dev/null |
    openssl x509 -noout -fingerprint -sha256 2>/dev/null | sed -n 's/^.*Fingerprint=//p'
}
fingerprint_file() {
  cat "$files/var/lib/relaydash/tls/fingerprint" 2>/dev/null || true
}
# The member NAME of the object in $answer, as JSON text ("gateway", true, [...]).
member() {
  sed -n "s/.*\"$1\":\(\"[^\"]*\"\|\[[^]]*\]\|[a-z0-9]*\).*/\1/p" <<<"$answer"
}
sign_in() {
  call login/password "{\"username\":\"admin\",\"password\":\"$1\"}"
  auth=$(sed -n 's/^{"output":{"auth":"\([^"]*\)"}}$/\1/p' <<<"$answer")
  [[ -n $auth ]] || fail "no sign-in with $1: $code $answer"
}
# Waits (at most 30 s) until the unit runs with a main process other than $2.
wait_for_new_process() {
  local pid
  for _ in $(seq 60); do
    pid=$(unit_property "$1" MainPID)
    if [[ $(inside systemctl is-active "$1") == active && $pid != 0 && $pid != "$2" ]]; then
      return 0
    fi
    sleep 0.5
  done
  return 1
}

echo "== first installation while another program holds port $port"
inside systemd-run --quiet --unit=port-taker perl -MIO::Socket::INET -e \
  "my \$s = IO::Socket::INET->new(LocalPort => $port, Listen => 1, ReuseAddr => 1) or die \$!; sleep"
for _ in $(seq 50); do
  [[ -n $(in_network ss -Hltn "sport = :$port") ]] && break
  sleep 0.1
done
[[ -n $(in_network ss -Hltn "sport = :$port") ]] || fail "nothing holds port $port"
output=$(apt_inside install /var/tmp/relaydash/relaydash.deb 2>&1) || fail "apt install: $output"
echo "$output" | sed -n '/relaydash did not start/,/^$/p'
[[ $(status) == "install ok installed $version" ]] || fail "status: $(status)"
[[ $output == *"relaydash did not start; see: journalctl -u relaydash"* &&
  $output == *"password in /etc/relaydash/initial-password"* &&
  $output == *"or https://"*":$port/ui in a browser."* &&
  $output == *"fingerprint is written to /var/lib/relaydash/tls/fingerprint"* &&
  $output != *"relaydash is running"* ]] || fail "the message: $output"
[[ $(inside systemctl is-active relaydash) != active ]] || fail "active while the port is taken"
inside journalctl -q -u relaydash -g 'Address already in use' >/dev/null ||
  fail "the journal does not say the address is in use"
inside systemctl stop port-taker

echo "== the stand-in forwarder and a port below 1024 in /etc/default/relaydash, then a restart"
options=$files/etc/default/relaydash
port=992
sed -i -e 's|^RELAYDASH_FORWARDER_CONFIG=.*|RELAYDASH_FORWARDER_CONFIG=/etc/dummy-forwarder/global_conf.json|' \
  -e 's|^RELAYDASH_FORWARDER_UNIT=.*|RELAYDASH_FORWARDER_UNIT=dummy-forwarder|' \
  -e "s|^RELAYDASH_PORT=.*|RELAYDASH_PORT=$port|" "$options"
echo "# Edited by the operator: the gateway's forwarder is dummy-forwarder." >>"$options"
cp "$options" "$work/options"
inside systemctl restart relaydash || fail "systemctl restart relaydash"
[[ $(inside systemctl is-enabled relaydash) == enabled ]] || fail "relaydash is not enabled"
[[ $(inside systemctl is-active relaydash) == active ]] || fail "relaydash is not active"
[[ $(health) == '{"kit":"1.4.2"}' ]] || fail "/health: $(health)"
# The administrator's first password is this gateway's own, in a file for root alone.
password_file=$files/etc/relaydash/initial-password
[[ $(stat -c %a "$password_file" 2>&1) == 600 ]] ||
  fail "the first password's file: $(stat -c %a "$password_file" 2>&1)"
first_password=$(cat "$password_file" 2>/dev/null || true)
[[ ${#first_password} -ge 16 ]] || fail "the first password: '$first_password'"
[[ $(stat -c %a "$files/var/lib/relaydash/relaydash.sqlite3" 2>&1) == 600 ]] ||
  fail "the account database's mode: $(stat -c %a "$files/var/lib/relaydash/relaydash.sqlite3" 2>&1)"
call login/password '{"username":"admin","password":"quilm"}'
[[ $code == 403 ]] || fail "the factory password: $code $answer"
sign_in "$first_password"

echo "== HTTPS on port $port, with the gateway's own certificate"
# The same answer, status line and headers included, over either.
plain=$(in_network curl -s -i --max-time 5 "http://127.0.0.1:$port/health" 2>&1 || true)
secure=$(in_network curl -s -i -k --max-time 5 "https://127.0.0.1:$port/health" 2>&1 || true)
[[ -n $plain && $plain == "$secure" ]] ||
  fail "/health over https differs:"$'\n'"$plain"$'\n'"---"$'\n'"$secure"
own_fingerprint=$(served_fingerprint)
echo "served: ${own_fingerprint:-nothing}"
[[ $own_fingerprint =~ ^([0-9A-F]{2}:){31}[0-9A-F]{2}$ ]] ||
  fail "no certificate's fingerprint over TLS: '$own_fingerprint'"
[[ $(fingerprint_file) == "$own_fingerprint" ]] ||
  fail "the fingerprint file holds '$(fingerprint_file)', the client saw '$own_fingerprint'"
inside journalctl -q -u relaydash -g "^HTTPS: certificate SHA-256 fingerprint $own_fingerprint\$" \
  >/dev/null || fail "the journal does not give the fingerprint $own_fingerprint"
# The key is the service's own (root's) alone; the certificate is public, but written under the
# unit's umask.
tls=$files/var/lib/relaydash/tls
[[ $(stat -c '%U %a' "$tls/relaydash.key" 2>&1) == "root 600" ]] ||
  fail "the certificate's key: $(stat -c '%U %a' "$tls/relaydash.key" 2>&1)"
echo "key: $(stat -c '%U %a' "$tls/relaydash.key"); certificate: $(stat -c '%U %a' "$tls/relaydash.crt")"
call server/tls '{}'
[[ $code == 200 && $(member https) == true && $(member certificate) == '"generated"' &&
  $(member fingerprint) == "\"$own_fingerprint\"" && $(member secure) == false &&
  $(member redirect) == false ]] || fail "server/tls over http: $code $answer"
host=$(inside hostname)
[[ $(member names) == "[\"$host\",\"$host.local\",\"localhost\",\"127.0.0.1\",\"192.0.2.1\""* ]] ||
  fail "server/tls: the certificate's names: $(member names)"
call server/tls '{}' https
[[ $code == 200 && $(member secure) == true ]] || fail "server/tls over https: $code $answer"
echo "names: $(member names)"

echo "== gateway/status and gateway/logs"
call gateway/status "{\"auth\":\"$auth\"}"
[[ $answer == *'"forwarder":{"unit":"dummy-forwarder","loadState":"loaded","activeState":"active","subState":"running"'* ]] ||
  fail "status: the forwarder: $answer"
[[ $answer == *'"ssh":{"unit":"ssh","loadState":"loaded","activeState":"active","subState":"running"'* ]] ||
  fail "status: ssh: $answer"
[[ $answer == *'"interfaces":[{"name":'* && $answer == *'"192.0.2.1/24"'* ]] ||
  fail "status: the interfaces: $(sed -n 's/.*\("interfaces":.*]\),"clockSynchronized".*/\1/p' <<<"$answer")"
[[ $answer =~ \"clockSynchronized\":(true|false) ]] ||
  fail "status: the clock: $(grep -o '"clockSynchronized":[a-z]*' <<<"$answer")"
[[ $answer == *'"gatewayId":"AA555A0000000000"'* ]] || fail "status: the configuration: $answer"
# Asked over D-Bus, not through systemctl, and with the same answer.
inside journalctl -q -u relaydash -g 'systemd is asked over D-Bus' >/dev/null ||
  fail "the journal does not say systemd is asked over D-Bus"
forwarder_pid=$(unit_property dummy-forwarder MainPID)
[[ $answer == *"\"unit\":\"dummy-forwarder\","*"\"mainPid\":$forwarder_pid},\"ssh\":"* ]] ||
  fail "status: the forwarder's MainPID is not $forwarder_pid: $answer"
sed -n 's/.*\("interfaces":.*]\),"clockSynchronized".*/\1/p' <<<"$answer"
for unit in forwarder ssh; do
  case $unit in
  forwarder) expected='dummy forwarder: running with' ;;
  ssh) expected='Server listening on' ;;
  esac
  call gateway/logs "{\"auth\":\"$auth\",\"input\":{\"unit\":\"$unit\",\"lines\":50}}"
  [[ $code == 200 && $answer == *"$expected"* ]] || fail "logs of $unit: $code $answer"
  echo "logs of $unit: $(grep -o "\"message\":\"${expected}[^}]*" <<<"$answer" | tail -n 1)"
done
# The host name as it is now, not as it was when relaydash started: within the 5 s a status
# read is shared for.
inside hostname relay-gateway-2
for _ in $(seq 30); do
  call gateway/status "{\"auth\":\"$auth\"}"
  [[ $answer == *'"hostname":"relay-gateway-2"'* ]] && break
  sleep 0.5
done
[[ $answer == *'"hostname":"relay-gateway-2"'* ]] ||
  fail "status: the host name: $(grep -o '"hostname":"[^"]*"' <<<"$answer")"

echo "== a good change restarts the forwarder"
forwarder_config=$files/etc/dummy-forwarder/global_conf.json
before=$(unit_property dummy-forwarder MainPID)
patch='{"gateway_conf":{"server_address":"relay.example.net"}}'
call forwarder-config/apply "{\"auth\":\"$auth\",\"input\":{\"patch\":$patch,\"settleSeconds\":2}}"
echo "$code $answer"
first_version=$(sed -n 's/^{"output":{"version":\([0-9]*\),.*/\1/p' <<<"$answer")
[[ $code == 200 && -n $first_version && $answer == *'"applied":true'* &&
  $answer == *'"restarted":true'* ]] || fail "apply: $code $answer"
after=$(unit_property dummy-forwarder MainPID)
[[ $after != 0 && $after != "$before" ]] || fail "apply: the forwarder's process is still $after"
grep -q '"server_address": *"relay.example.net"' "$forwarder_config" || fail "apply: not written"
[[ $(stat -c '%u:%g %a' "$forwarder_config") == "65534:65534 644" ]] ||
  fail "apply: the file's owner and mode became $(stat -c '%u:%g %a' "$forwarder_config")"
inside journalctl -q -u dummy-forwarder -g 'running with "server_address": *"relay.example.net"' \
  >/dev/null || fail "apply: the forwarder did not start with the new file"

echo "== a change that makes the forwarder exit is rolled back"
cp "$forwarder_config" "$work/good"
patch='{"gateway_conf":{"gateway_ID":"DEAD0000DEAD0000"}}'
call forwarder-config/apply "{\"auth\":\"$auth\",\"input\":{\"patch\":$patch,\"settleSeconds\":3}}"
echo "$code ${answer:0:300}"
[[ $code == 422 && $answer == *'"result":"rolled-back"'* &&
  $answer == *'The change was rolled back'* ]] || fail "bad apply: $code $answer"
[[ $answer == *'gateway_ID DEAD0000DEAD0000 is refused'* ]] ||
  fail "bad apply: the forwarder's journal lines are not in the answer"
cmp -s "$work/good" "$forwarder_config" || fail "bad apply: the old file is not back"
wait_for_new_process dummy-forwarder 0 || fail "bad apply: the forwarder does not run again"

echo "== sshd/stop and sshd/start"
call gateway/status "{\"auth\":\"$auth\"}"
[[ $answer == *'"ssh":{"unit":"ssh","loadState":"loaded","activeState":"active"'* ]] ||
  fail "status before sshd/stop: $answer"
call sshd/stop "{\"auth\":\"$auth\"}"
[[ $answer == '{"output":{}}' ]] || fail "sshd/stop: $code $answer"
[[ $(inside systemctl is-active ssh) != active ]] || fail "sshd/stop: ssh still runs"
[[ $(inside systemctl is-enabled ssh) == disabled ]] || fail "sshd/stop: ssh still enabled"
# The status read a moment ago is not answered again: the units are read anew after a change.
call gateway/status "{\"auth\":\"$auth\"}"
[[ $answer == *'"ssh":{"unit":"ssh","loadState":"loaded","activeState":"inactive"'* ]] ||
  fail "status after sshd/stop: $answer"
call sshd/start "{\"auth\":\"$auth\"}"
[[ $answer == '{"output":{}}' ]] || fail "sshd/start: $code $answer"
[[ $(inside systemctl is-active ssh) == active ]] || fail "sshd/start: ssh does not run"
[[ $(inside systemctl is-enabled ssh) == enabled ]] || fail "sshd/start: ssh is not enabled"
echo "ssh: $(inside systemctl is-active ssh), $(inside systemctl is-enabled ssh)"

echo "== restoring version $first_version, the file as it was first"
before=$(unit_property dummy-forwarder MainPID)
call forwarder-config/restore "{\"auth\":\"$auth\",\"input\":{\"version\":${first_version:-0},\"settleSeconds\":1}}"
echo "$code $answer"
[[ $code == 200 && $answer == *'"applied":true'* ]] || fail "restore: $code $answer"
cmp -s "$sample" "$forwarder_config" || fail "restore: the file is not the first one"
[[ $(unit_property dummy-forwarder MainPID) != "$before" ]] || fail "restore: no restart"

echo "== without the system bus: systemctl and timedatectl answer"
dropin=$files/etc/systemd/system/relaydash.service.d
mkdir -p "$dropin"
printf '[Service]\nEnvironment=DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/relaydash-test\n' >"$dropin/no-bus.conf"
inside systemctl daemon-reload
inside systemctl restart relaydash || fail "restart without the bus"
sign_in "$first_password"
call gateway/status "{\"auth\":\"$auth\"}"
forwarder_pid=$(unit_property dummy-forwarder MainPID)
[[ $code == 200 && $answer == *"\"unit\":\"dummy-forwarder\",\"loadState\":\"loaded\",\"activeState\":\"active\""*"\"mainPid\":$forwarder_pid}"* ]] ||
  fail "status without the bus: $code $answer"
# The tools are run with an environment of their own, in which the bus is where systemd keeps it.
[[ $answer =~ \"clockSynchronized\":(true|false) && $answer == *'"errors":{}'* ]] ||
  fail "status without the bus: the clock: $answer"
inside journalctl -q -u relaydash -g "D-Bus API cannot be reached" >/dev/null ||
  fail "the journal does not say the bus cannot be reached"
rm -r "$dropin"
inside systemctl daemon-reload
inside systemctl restart relaydash || fail "restart with the bus again"
sign_in "$first_password"

echo "== HTTPS after the host name changed: a certificate for the new name"
renewed=$(served_fingerprint)
call server/tls '{}'
[[ $(member names) == '["relay-gateway-2","relay-gateway-2.local","localhost",'* ]] ||
  fail "server/tls after the host name changed: the names: $(member names)"
[[ -n $renewed && $renewed != "$own_fingerprint" && $(fingerprint_file) == "$renewed" &&
  $(member fingerprint) == "\"$renewed\"" ]] ||
  fail "after the host name changed: served '$renewed', before '$own_fingerprint', file '$(fingerprint_file)', $answer"

echo "== kill -9 of relaydash"
before=$(unit_property relaydash MainPID)
# Never "kill -9 0": that would be this script's own process group.
if [[ $before =~ ^[1-9][0-9]*$ ]]; then
  inside kill -9 "$before"
else
  fail "relaydash has no process to kill ($before)"
fi
wait_for_new_process relaydash "$before" || fail "relaydash was not started again"
[[ $(health) == '{"kit":"1.4.2"}' ]] || fail "after kill -9: /health: $(health)"
echo "process $before killed, now $(unit_property relaydash MainPID), restarts: $(unit_property relaydash NRestarts)"

echo "== systemd-analyze security"
exposure=$(inside systemd-analyze security --no-pager relaydash.service 2>&1 |
  sed -n 's/.*Overall exposure level for relaydash.service: \([0-9.]*\).*/\1/p')
echo "exposure: ${exposure:-none}"
if [[ -z $exposure ]] || ! awk -v e="$exposure" 'BEGIN { exit !(e <= 3.5) }'; then
  fail "exposure ${exposure:-unknown} is above 3.5"
fi

echo "== HTTPS with the operator's certificate in /etc/relaydash/tls"
# Made as an operator would; a certificate without its key, later in name order, is passed over.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 \
  -subj /CN=gateway.example.net -addext subjectAltName=DNS:gateway.example.net \
  -keyout "$work/operator.key" -out "$work/operator.crt" 2>/dev/null || fail "openssl req"
operator_fingerprint=$(openssl x509 -in "$work/operator.crt" -noout -fingerprint -sha256 |
  sed -n 's/^.*Fingerprint=//p')
operator_tls=$files/etc/relaydash/tls
[[ $(stat -c '%U %a' "$operator_tls" 2>&1) == "root 755" ]] ||
  fail "/etc/relaydash/tls: $(stat -c '%U %a' "$operator_tls" 2>&1)"
install -m 0644 "$work/operator.crt" "$operator_tls/gateway.crt"
install -m 0600 "$work/operator.key" "$operator_tls/gateway.key"
install -m 0644 "$tls/relaydash.crt" "$operator_tls/without-key.crt"
inside systemctl restart relaydash || fail "restart with the operator's certificate"
served=$(served_fingerprint)
call server/tls '{}'
echo "served: $served, the operator's: $operator_fingerprint"
[[ $served == "$operator_fingerprint" && $(fingerprint_file) == "$operator_fingerprint" &&
  $(member certificate) == '"installed"' && $(member names) == '["gateway.example.net"]' &&
  $(member fingerprint) == "\"$operator_fingerprint\"" ]] ||
  fail "the operator's certificate: served '$served', file '$(fingerprint_file)', $answer"
[[ $(health https) == '{"kit":"1.4.2"}' ]] || fail "/health with the operator's certificate: $(health https)"

echo "== RELAYDASH_TLS_REDIRECT=on: plain HTTP from another address goes to HTTPS"
echo RELAYDASH_TLS_REDIRECT=on >>"$options"
inside systemctl restart relaydash || fail "restart with the redirect"
# The container's veth address is not loopback: a request from it is another machine's.
redirected=$(in_network curl -s --max-time 10 --interface 192.0.2.1 -o /dev/null \
  -w '%{http_code} %{redirect_url}' "http://192.0.2.1:$port/health?from=lan" || true)
echo "plain from 192.0.2.1: $redirected"
[[ $redirected == "308 https://192.0.2.1:$port/health?from=lan" ]] ||
  fail "plain HTTP from 192.0.2.1: $redirected"
over_https=$(in_network curl -s -k --max-time 10 --interface 192.0.2.1 \
  "https://192.0.2.1:$port/health" || true)
[[ $over_https == '{"kit":"1.4.2"}' ]] || fail "HTTPS from 192.0.2.1 with the redirect: $over_https"
[[ $(health) == '{"kit":"1.4.2"}' ]] || fail "plain HTTP from 127.0.0.1 with the redirect: $(health)"
call server/tls '{}'
[[ $(member redirect) == true ]] || fail "server/tls with the redirect: $answer"
cp "$work/options" "$options"
inside systemctl restart relaydash || fail "restart without the redirect"

echo "== upgrading to $version+1"
sign_in "$first_password"
call password/update "{\"auth\":\"$auth\",\"input\":{\"currentPassword\":\"$first_password\",\"newPassword\":\"gateway-1\"}}"
[[ $answer == '{"output":{}}' ]] || fail "password change: $code $answer"
[[ ! -e $password_file ]] || fail "the first password's file is left after the change"
before=$(unit_property relaydash MainPID)
output=$(apt_inside install /var/tmp/relaydash/relaydash-next.deb 2>&1) || fail "upgrade: $output"
echo "$output" | sed -n '/relaydash is running/,/^$/p'
[[ $(status) == "install ok installed $version+1" ]] || fail "upgrade: $(status)"
[[ $output == *"relaydash is running. Open http://192.0.2.1:$port/ui or https://192.0.2.1:$port/ui in a browser."* &&
  $output != *"initial-password"* ]] || fail "upgrade: the message: $output"
# The fingerprint of the certificate in use: the operator's.
[[ $output == *"fingerprint, to compare with the one the browser shows:"$'\n'"  $operator_fingerprint"$'\n'* &&
  $(served_fingerprint) == "$operator_fingerprint" ]] ||
  fail "upgrade: the fingerprint in the message is not $operator_fingerprint: $output"
cmp -s "$work/options" "$options" || fail "upgrade: /etc/default/relaydash changed"
[[ $(unit_property relaydash MainPID) != "$before" ]] || fail "upgrade: relaydash not restarted"
sign_in gateway-1
call forwarder-config/text "{\"auth\":\"$auth\"}"
[[ $answer == *'"parses":true'* ]] || fail "upgrade: the forwarder's file: $code ${answer:0:200}"

echo "== removing"
apt_inside remove relaydash >/dev/null 2>&1 || fail "remove"
[[ $(status) == "deinstall ok config-files $version+1" ]] || fail "remove: $(status)"
[[ $(inside systemctl is-active relaydash) != active ]] || fail "remove: still active"
[[ -z $(health) ]] || fail "remove: still serving"
[[ -f $files/var/lib/relaydash/relaydash.sqlite3 ]] || fail "remove: the database is gone"
cmp -s "$work/options" "$options" || fail "remove: /etc/default/relaydash changed"
cmp -s "$work/operator.key" "$operator_tls/gateway.key" || fail "remove: the operator's key is gone"

echo "== purging"
output=$(apt_inside purge relaydash 2>&1) || fail "purge: $output"
[[ -z $(status) || $(status) == "unknown ok not-installed"* ]] || fail "purge: $(status)"
[[ ! -e $files/var/lib/relaydash ]] || fail "purge: /var/lib/relaydash is left"
[[ ! -e $options ]] || fail "purge: /etc/default/relaydash is left"
# The operator's certificate and key are theirs: kept, and said so.
cmp -s "$work/operator.key" "$operator_tls/gateway.key" || fail "purge: the operator's key is gone"
[[ ! -e $files/etc/relaydash/initial-password ]] || fail "purge: the first password's file is left"
[[ $output == *"/etc/relaydash/tls is kept"* ]] || fail "purge: the message: $output"

if ((failures)); then
  echo "--- relaydash's journal" >&2
  inside journalctl -q -u relaydash --no-pager -n 40 >&2 || true
  echo "test-systemd: $failures check(s) failed in $((SECONDS - began)) s" >&2
  exit 1
fi
echo "test-systemd: all checks passed in $((SECONDS - began)) s"
