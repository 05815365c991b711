#!/usr/bin/env bash
# Sets up, builds and starts relaydash on a ready-made demo: a working directory demo/ with a
# copy of a real packet-forwarder configuration and stand-ins for systemctl, journalctl and
# timedatectl in demo/bin that act on files in demo/state alone, so nothing on this machine is
# started, stopped or read:
#   systemctl    logs what it is asked (demo/systemctl.log); start, stop, restart, enable and
#                disable change what `systemctl show` answers afterwards (a restart gives the
#                unit a new start time and process), and write to the unit's journal
#   journalctl   the journal of a forwarder at work for the last 26 hours: a statistics report
#                every 30 s (made from the clock, so new ones come as time passes), a stretch
#                25 minutes before the demo started where the network server did not answer, and
#                what the units said when they were started and stopped; it honours --unit,
#                --lines, --reverse, --after-cursor, --since, --until and --priority as relaydash
#                gives them
#   timedatectl  a clock that is synchronized
# Every start of the demo begins the story anew; the configuration file is kept.
# demo.sh [PORT] — default 9992.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${1:-9992}

# write_stand_ins DIR: the stand-ins in DIR/bin, their state in DIR/state, as at a start.
write_stand_ins() {
  local demo=$1
  rm -rf "$demo/state"
  mkdir -p "$demo/bin" "$demo/state"
  local now
  now=$(date +%s)
  # The forwarder has run for 26 hours; SSH was started with it and stopped soon after.
  echo "$now" > "$demo/state/begun"
  echo $((now - 93600)) > "$demo/state/started-packet-forwarder"
  echo $((now - 93600)) > "$demo/state/started-ssh"
  echo $((now - 91800)) > "$demo/state/stopped-ssh"
  echo active > "$demo/state/active-packet-forwarder"
  echo 4242 > "$demo/state/pid-packet-forwarder"
  echo 812 > "$demo/state/pid-ssh"
  echo enabled > "$demo/state/enabled-packet-forwarder"
  echo inactive > "$demo/state/active-ssh"
  echo disabled > "$demo/state/enabled-ssh"
  printf '%s 6 %s\n' \
    "$(((now - 93600) * 1000000))" "*** Packet Forwarder ***" \
    "$(((now - 93600) * 1000000 + 400000))" "INFO: concentrator started, packet can now be received" \
    > "$demo/state/events-packet-forwarder"
  printf '%s 6 %s\n' \
    "$(((now - 93600) * 1000000))" "Server listening on 0.0.0.0 port 22." \
    "$(((now - 91800) * 1000000))" "Received signal 15; terminating." \
    > "$demo/state/events-ssh"

  cat > "$demo/bin/systemctl" <<'SH'
#!/bin/sh
# The demo's systemctl: state in ../state, one journal line per event in state/events-UNIT as
# "MICROSECONDS PRIORITY MESSAGE".
demo=$(cd "${0%/*}/.." && pwd)
state=$demo/state
echo "systemctl $*" >> "$demo/systemctl.log"
verb=$1
shift
get() { v=$2; [ -f "$state/$1" ] && read -r v < "$state/$1"; }
event() { printf '%s %s %s\n' "$(date +%s%6N)" "$2" "$3" >> "$state/events-$1"; }
started() {
  date +%s > "$state/started-$1"
  echo active > "$state/active-$1"
  get "pid-$1" 4242
  echo $((v + 1)) > "$state/pid-$1"
  if [ "$1" = ssh ]; then
    event ssh 6 "Server listening on 0.0.0.0 port 22."
  else
    event "$1" 6 "*** Packet Forwarder ***"
    event "$1" 6 "INFO: concentrator started, packet can now be received"
  fi
}
stopped() {
  get "active-$1" inactive
  [ "$v" = active ] || return 0
  date +%s > "$state/stopped-$1"
  echo inactive > "$state/active-$1"
  if [ "$1" = ssh ]; then event ssh 6 "Received signal 15; terminating."
  else event "$1" 6 "INFO: Exiting packet forwarder program"; fi
}
stamp() { date -u -d "@$1" '+%a %Y-%m-%d %H:%M:%S UTC'; }
case $verb in
  start) for unit in "$@"; do get "active-$unit" inactive; [ "$v" = active ] || started "$unit"; done ;;
  stop) for unit in "$@"; do stopped "$unit"; done ;;
  restart) for unit in "$@"; do stopped "$unit"; started "$unit"; done ;;
  enable|disable) for unit in "$@"; do echo "${verb}d" > "$state/enabled-$unit"; done ;;
  show)
    first=1
    for unit in "$@"; do
      case $unit in -*) continue ;; esac
      [ $first = 1 ] || echo
      first=0
      get "active-$unit" inactive; active=$v
      get "enabled-$unit" disabled; enabled=$v
      get "started-$unit" 0; since=$(stamp "$v"); changed=$since
      get "pid-$unit" 4242; pid=$v sub=running
      if [ "$active" != active ]; then
        sub=dead pid=0
        get "stopped-$unit" 0
        [ "$v" = 0 ] || changed=$(stamp "$v")
      fi
      printf '%s\n' LoadState=loaded "ActiveState=$active" "SubState=$sub" Result=success \
        "UnitFileState=$enabled" "ActiveEnterTimestamp=$since" "StateChangeTimestamp=$changed" \
        NRestarts=0 "MainPID=$pid"
    done ;;
esac
exit 0
SH

  cat > "$demo/bin/journalctl" <<'SH'
#!/bin/sh
# The demo's journalctl: entries made from the clock and from state/events-UNIT, never stored.
# A cursor is "s=demo;t=MICROSECONDS", the entry's time: no two entries share one.
state=$(cd "${0%/*}/.." && pwd)/state
unit='' lines=-1 reverse=0 after='' since='' until='' priority=7
for option in "$@"; do
  case $option in
    --unit=*) unit=${option#--unit=} ;;
    --lines=*) lines=${option#--lines=} ;;
    --reverse) reverse=1 ;;
    --after-cursor=*) after=${option#--after-cursor=} ;;
    --since=*) since=${option#--since=} ;;
    --until=*) until=${option#--until=} ;;
    --priority=*) priority=${option#--priority=} ;;
  esac
done
case $after in
  ''|s=demo\;t=[0-9]*) ;;
  *) echo "Failed to seek to cursor: Invalid argument" >&2; exit 1 ;;
esac
read -r begun < "$state/begun"
read -r first < "$state/started-packet-forwarder"
events=$state/events-$unit
[ -f "$events" ] || events=/dev/null
exec awk -v unit="$unit" -v lines="$lines" -v reverse="$reverse" -v after="${after#s=demo;t=}" \
  -v since="$since" -v until="$until" -v priority="$priority" -v now="$(date +%s%6N)" \
  -v begun="$begun" -v first="$first" -v events="$events" '
  # A time as journalctl reads it: "-3600s", "@SECONDS" or "YYYY-MM-DD HH:MM:SS[.ffffff] UTC".
  function micros(text,   y, m, d, fraction, era, yoe, days) {
    if (text ~ /^-[0-9]+s$/) return now - substr(text, 2, length(text) - 2) * 1e6
    if (text ~ /^@[0-9]+(\.[0-9]+)?$/) return substr(text, 2) * 1e6
    if (text !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9](\.[0-9]+)? UTC$/) return ""
    y = substr(text, 1, 4) + 0; m = substr(text, 6, 2) + 0; d = substr(text, 9, 2) + 0
    fraction = substr(text, 20, 1) == "." ? substr(substr(text, 21, index(text, " UTC") - 21) "000000", 1, 6) + 0 : 0
    if (m <= 2) y--
    era = int(y / 400); yoe = y - era * 400
    days = era * 146097 + yoe * 365 + int(yoe / 4) - int(yoe / 100) + int((153 * (m > 2 ? m - 3 : m + 9) + 2) / 5) + d - 1 - 719468
    return ((days * 24 + substr(text, 12, 2)) * 60 + substr(text, 15, 2)) * 60e6 + substr(text, 18, 2) * 1e6 + fraction
  }
  function add(t, p, message) { n++; T[n] = t; P[n] = p; M[n] = message }
  # The entries of the 30 s from slot s on, in time order, in T, P and M.
  function slot(s,   i, j, rx, ack, parts, swap, report) {
    n = 0
    if (unit != "ssh" && s > first) {
      rx = 4 + (s / 30 * 7) % 11
      ack = s >= outage && s < outage + 240 ? 0 : 100
      report = "##### " strftime("%Y-%m-%d %H:%M:%S", s, 1) " GMT #####|### [UPSTREAM] ###|" \
        "# RF packets received by concentrator: " rx "|# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%|" \
        "# RF packets forwarded: " rx " (" rx * 23 " bytes)|# PUSH_DATA datagrams sent: " rx + 1 " (" rx * 150 + 220 " bytes)|" \
        sprintf("# PUSH_DATA acknowledged: %.2f%%|### [DOWNSTREAM] ###|# PULL_DATA sent: 3 (%.2f%% acknowledged)|", ack, ack) \
        "# PULL_RESP(onse) datagrams received: 0 (0 bytes)|# RF packets sent to concentrator: 0 (0 bytes)|# TX errors: 0|" \
        "### [GPS] ###|# GPS sync is disabled|##### END #####"
      j = split(report, parts, "|")
      for (i = 1; i <= j; i++) add(s * 1e6 + (i - 1) * 1000, 6, parts[i])
      add((s + 18) * 1e6, 6, sprintf("INFO: Received pkt from mote: 26011F%02X (fcnt=%d)", s / 30 % 256, s / 30 % 65536))
      add((s + 25) * 1e6, 6, "INFO: [down] PULL_ACK received in 41 ms")
      if (!ack) add((s + 28) * 1e6, 4, "WARNING: [up] PUSH_ACK was not received")
      if (s == outage) add((s + 28) * 1e6 + 1000, 3, "ERROR: [up] the network server has stopped answering")
    }
    for (i = 1; i <= held; i++) if (ET[i] >= s * 1e6 && ET[i] < (s + 30) * 1e6) add(ET[i], EP[i], EM[i])
    for (i = 2; i <= n; i++)  # insertion sort: events fall between the reports lines
      for (j = i; j > 1 && T[j - 1] > T[j]; j--) {
        swap = T[j]; T[j] = T[j - 1]; T[j - 1] = swap
        swap = P[j]; P[j] = P[j - 1]; P[j - 1] = swap
        swap = M[j]; M[j] = M[j - 1]; M[j - 1] = swap
      }
  }
  function wanted(i) {
    return T[i] >= lo && T[i] <= hi && P[i] <= priority + 0 && (after == "" || (back ? T[i] < after + 0 : T[i] > after + 0))
  }
  function line(i) {
    return sprintf("{\"__CURSOR\":\"s=demo;t=%.0f\",\"__REALTIME_TIMESTAMP\":\"%.0f\",\"PRIORITY\":\"%d\",\"MESSAGE\":\"%s\"}", T[i], T[i], P[i], M[i])
  }
  function put(i) {
    if (back && !reverse) kept[count] = line(i); else print line(i)
    return ++count == lines + 0
  }
  BEGIN {
    count = held = 0
    outage = (int((begun - 1500) / 30) + 1) * 30  # four minutes without acknowledgements
    while ((getline text < events) > 0) {
      held++; ET[held] = substr(text, 1, index(text, " ") - 1) + 0
      text = substr(text, index(text, " ") + 1); EP[held] = substr(text, 1, 1) + 0; EM[held] = substr(text, 3)
    }
    lo = (first - 7200) * 1e6; bound = micros(since); if (bound != "" && bound > lo) lo = bound
    hi = now; bound = micros(until); if (bound != "" && bound < hi) hi = bound
    # Read backwards for the last lines or --reverse; forwards after a cursor or for everything.
    back = reverse || (after == "" && lines >= 0)
    start = after != "" ? after / 1e6 : back ? hi / 1e6 : lo / 1e6
    for (s = int(start / 30) * 30; back ? s * 1e6 + 30e6 > lo : s * 1e6 <= hi; s += back ? -30 : 30) {
      slot(s)
      if (back) { for (i = n; i >= 1; i--) if (wanted(i) && put(i)) break }
      else for (i = 1; i <= n; i++) if (wanted(i) && put(i)) break
      if (i >= 1 && i <= n) break
    }
    if (back && !reverse) for (i = count - 1; i >= 0; i--) print kept[i]
  }'
SH

  cat > "$demo/bin/timedatectl" <<'SH'
#!/bin/sh
echo NTPSynchronized=yes
SH
  chmod +x "$demo/bin/systemctl" "$demo/bin/journalctl" "$demo/bin/timedatectl"
}

cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ >/dev/null

demo="$root/demo"
mkdir -p "$demo"
sample=sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json
if [[ ! -f "$demo/global_conf.json" ]]; then
  cp "$root/tests/data/forwarder/$sample" "$demo/global_conf.json"
  chmod u+w "$demo/global_conf.json"
fi
write_stand_ins "$demo"

echo
echo "Open http://127.0.0.1:$port/ui in a browser and sign in as admin with the password quilm."
echo "The configuration being edited is $demo/global_conf.json; commands go to $demo/systemctl.log."
echo "The Status and Logs pages show a forwarder at work, from the stand-ins in $demo/bin."
echo "Stop the server with Ctrl-C."
echo
cd "$demo"
# No system bus: relaydash would ask this machine's systemd over D-Bus rather than the stand-ins.
# The stand-in journal grows with the clock, in no file: a journal folder that cannot be watched
# makes relaydash ask it at every status refresh.
PATH="$demo/bin:$PATH" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/relaydash-demo \
  RELAYDASH_JOURNAL_WATCH=/nonexistent/relaydash-demo exec "$root/build/relaydash" --port "$port" \
  --forwarderConfigPath "$demo/global_conf.json" --dataPath "$demo/relaydash.sqlite3"
