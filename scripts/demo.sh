#!/usr/bin/env bash
# Sets up, builds and starts relaydash on a ready-made demo: a working directory demo/ with a
# copy of a real packet-forwarder configuration, and a stand-in for systemctl that only logs
# what it is asked (demo/systemctl.log), so nothing on this machine is started or stopped.
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
SH
chmod +x "$demo/bin/systemctl"

echo
echo "Open http://127.0.0.1:$port/ui in a browser and sign in as admin with the password quilm."
echo "The configuration being edited is $demo/global_conf.json; commands go to $demo/systemctl.log."
echo "Stop the server with Ctrl-C."
echo
cd "$demo"
PATH="$demo/bin:$PATH" exec "$root/build/relaydash" --port "$port" \
  --forwarderConfigPath "$demo/global_conf.json" --dataPath "$demo/relaydash.sqlite3"
