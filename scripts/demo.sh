#!/usr/bin/env bash
# Sets up, builds and starts relaydash on a ready-made demo: a working directory demo/ with a
# copy of a real packet-forwarder configuration, a stand-in for systemctl that only logs what it
# is asked (demo/systemctl.log) and answers `systemctl show` as for a running unit, and stand-ins
# for journalctl and timedatectl that tell of a forwarder at work, so nothing on this machine is
# started, stopped or read.
# demo.sh [PORT] — default 9992.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${1:-9992}
cd "$root"

scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ >/dev/null

demo="$root/demo"
mkdir -p "$demo/bin"
sample=sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json
if [[ ! -f "$demo/global_conf.json" ]]; then
  cp "$root/tests/data/forwarder/$sample" "$demo/global_conf.json"
  chmod u+w "$demo/global_conf.json"
fi
cat > "$demo/bin/systemctl" <<SH
#!/bin/sh
echo "systemctl \$*" >> "$demo/systemctl.log"
[ "\$1" = show ] || exit 0
shift
first=1
for unit in "\$@"; do
  case \$unit in -*) continue ;; esac
  [ \$first = 1 ] || echo
  first=0
  printf '%s\\n' LoadState=loaded ActiveState=active SubState=running Result=success \\
    UnitFileState=enabled "ActiveEnterTimestamp=\$(date -u -d '-2 hours' '+%a %Y-%m-%d %H:%M:%S UTC')" \\
    "StateChangeTimestamp=\$(date -u -d '-2 hours' '+%a %Y-%m-%d %H:%M:%S UTC')" NRestarts=0 MainPID=4242
done
SH
# The forwarder's journal of the last hour: a statistics report every 30 s (one stretch where
# the network server stopped answering) with the lines between them.
cat > "$demo/bin/journalctl" <<'SH'
#!/bin/sh
unit= lines=200 reverse=0
for option in "$@"; do
  case $option in
    --unit=*) unit=${option#--unit=} ;;
    --lines=*) lines=${option#--lines=} ;;
    --after-cursor=*) exit 0 ;;
    --reverse) reverse=1 ;;
  esac
done
now=$(date +%s)
awk -v unit="$unit" -v now="$now" -v lines="$lines" -v reverse="$reverse" '
  function entry(t, priority, message) {
    n++
    out[n] = sprintf("{\"__CURSOR\":\"s=demo;i=%x\",\"__REALTIME_TIMESTAMP\":\"%.0f\",\"PRIORITY\":\"%d\",\"MESSAGE\":\"%s\"}", n, t * 1e6, priority, message)
  }
  BEGIN {
    if (unit == "ssh") {
      entry(now - 7000, 6, "Server listening on 0.0.0.0 port 22.")
      entry(now - 7000, 6, "Server listening on :: port 22.")
    } else {
      entry(now - 3700, 6, "*** Packet Forwarder ***")
      entry(now - 3700, 6, "INFO: concentrator started, packet can now be received")
      for (r = 0; r < 120; r++) {
        t = now - 3600 + r * 30
        rx = 4 + (r * 7) % 11
        ack = (r >= 70 && r < 78) ? 0 : 100
        entry(t - 12, 6, sprintf("INFO: Received pkt from mote: 26011F%02X (fcnt=%d)", r % 256, r))
        entry(t - 5, 6, "INFO: [down] PULL_ACK received in 41 ms")
        if (ack == 0) entry(t - 2, 4, "WARNING: [up] PUSH_ACK was not received")
        entry(t, 6, strftime("##### %Y-%m-%d %H:%M:%S GMT #####", t, 1))
        entry(t, 6, "### [UPSTREAM] ###")
        entry(t, 6, "# RF packets received by concentrator: " rx)
        entry(t, 6, "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%")
        entry(t, 6, "# RF packets forwarded: " rx " (" rx * 23 " bytes)")
        entry(t, 6, "# PUSH_DATA datagrams sent: " rx + 1 " (" rx * 150 + 220 " bytes)")
        entry(t, 6, sprintf("# PUSH_DATA acknowledged: %.2f%%", ack))
        entry(t, 6, "### [DOWNSTREAM] ###")
        entry(t, 6, sprintf("# PULL_DATA sent: 3 (%.2f%% acknowledged)", ack))
        entry(t, 6, "# PULL_RESP(onse) datagrams received: 0 (0 bytes)")
        entry(t, 6, "# RF packets sent to concentrator: 0 (0 bytes)")
        entry(t, 6, "# TX errors: 0")
        entry(t, 6, "### [GPS] ###")
        entry(t, 6, "# GPS sync is disabled")
        entry(t, 6, "##### END #####")
      }
    }
    first = n > lines ? n - lines + 1 : 1
    if (reverse) for (i = n; i >= first; i--) print out[i]
    else for (i = first; i <= n; i++) print out[i]
  }'
SH
cat > "$demo/bin/timedatectl" <<'SH'
#!/bin/sh
echo NTPSynchronized=yes
SH
chmod +x "$demo/bin/systemctl" "$demo/bin/journalctl" "$demo/bin/timedatectl"

echo
echo "Open http://127.0.0.1:$port/ui in a browser and sign in as admin with the password quilm."
echo "The configuration being edited is $demo/global_conf.json; commands go to $demo/systemctl.log."
echo "The Status and Logs pages show a forwarder at work, from the stand-ins in $demo/bin."
echo "Stop the server with Ctrl-C."
echo
cd "$demo"
PATH="$demo/bin:$PATH" exec "$root/build/relaydash" --port "$port" \
  --forwarderConfigPath "$demo/global_conf.json" --dataPath "$demo/relaydash.sqlite3"
