#!/usr/bin/env bash
# status-systemd.sh [status.py options...]: what a Status tab costs under a real systemd, with the
# real systemctl, journalctl and timedatectl. As root, from the source tree:
#
#   bench/status-systemd.sh                    1 and 5 viewers for a minute each, a table
#   bench/status-systemd.sh --duration 10      shorter viewer runs
#   bench/status-systemd.sh --json             the figures as JSON
#   bench/status-systemd.sh --prepare          only make the container's root
#
# The amd64 package (dist/relaydash_VERSION_amd64.deb, made by scripts/package.sh amd64 when
# missing, or the one RELAYDASH_DEB names) is installed with apt into a Debian root booted with
# systemd-nspawn, as scripts/test-systemd.sh does, and watches a bench forwarder: the unit
# packet-forwarder (relaydash's default forwarder unit), which prints an hour's worth of
# statistics reports (120) when it starts and one more every 30 s, as a forwarder does, so
# `journalctl -u packet-forwarder` finds them in the real journal. Once they are there,
# bench/status.py runs inside the container against the installed relaydash (--no-start, with its
# URL on the container's loopback, the first password and its process), with any options given
# here passed on to it.
#
# The root is that of scripts/test-systemd.sh plus Python, kept apart in .cache/bench-systemd (so
# the test's root stays as small as it is) and made again only when its package list changes;
# every run boots a fresh overlay of it. The container has a network of its own: nothing leaves
# it, and the bench connects only to its 127.0.0.1. Needs root and scripts/setup.sh systemd
# package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [[ $(id -u) -ne 0 ]]; then
  echo "status-systemd: must run as root (debootstrap, systemd-nspawn, nsenter)" >&2
  exit 1
fi
for tool in debootstrap systemd-nspawn unshare nsenter dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "status-systemd: $tool is missing: scripts/setup.sh systemd package" >&2
    exit 1
  fi
done

# shellcheck source=scripts/lib/container.sh
. scripts/lib/container.sh
# The root of scripts/test-systemd.sh, and python3 for the bench: a root of its own, so that the
# test's is not made again for it.
container_root "$root/.cache/bench-systemd" \
  systemd,systemd-sysv,dbus,openssh-server,libsqlite3-0,libsodium23,python3 status-systemd
if [[ ${1:-} == --prepare ]]; then exit 0; fi

version=$(sed -n 's/^project(relaydash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${RELAYDASH_DEB:-dist/relaydash_${version}_amd64.deb}
if [[ -z ${RELAYDASH_DEB:-} && ! -f $deb ]]; then scripts/package.sh amd64; fi
[[ -f $deb ]] || { echo "status-systemd: no package $deb" >&2; exit 1; }

work=$(mktemp -d /tmp/relaydash-bench-systemd.XXXXXX)
nspawn=
trap container_cleanup EXIT
trap 'exit 130' INT TERM HUP

# What the run adds to the root: the package, the bench and its forwarder, enabled, with a real
# configuration.
upper=$work/upper
mkdir -p "$upper/var/tmp/relaydash" "$upper/etc/packet-forwarder" "$upper/usr/local/lib/relaydash-bench" \
  "$upper/etc/systemd/system/multi-user.target.wants" "$work/overlay" "$work/merged"
cp tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json \
  "$upper/etc/packet-forwarder/global_conf.json"
install -m 0755 bench/status.py "$upper/usr/local/lib/relaydash-bench/status.py"
cat >"$upper/etc/systemd/system/packet-forwarder.service" <<'EOF'
# The bench's forwarder: an hour's worth of statistics reports at once, then one every 30 s.
[Unit]
Description=bench packet forwarder

[Service]
Type=exec
ExecStart=/usr/bin/python3 -u /usr/local/lib/relaydash-bench/status.py --print-reports
# The hour arrives in one burst, which journald must keep whole.
LogRateLimitIntervalSec=0

[Install]
WantedBy=multi-user.target
EOF
ln -s ../packet-forwarder.service \
  "$upper/etc/systemd/system/multi-user.target.wants/packet-forwarder.service"
cp "$deb" "$upper/var/tmp/relaydash/relaydash.deb"

echo "== booting the container"
boot_container "$root/.cache/bench-systemd/root" status-systemd

echo "== installing $(basename "$deb") for the forwarder packet-forwarder"
output=$(inside apt-get -y -q -o Dpkg::Use-Pty=0 install /var/tmp/relaydash/relaydash.deb 2>&1) || {
  echo "$output" >&2
  exit 1
}
sed -i -e 's|^RELAYDASH_FORWARDER_CONFIG=.*|RELAYDASH_FORWARDER_CONFIG=/etc/packet-forwarder/global_conf.json|' \
  -e 's|^RELAYDASH_FORWARDER_UNIT=.*|RELAYDASH_FORWARDER_UNIT=packet-forwarder|' \
  -e 's|^RELAYDASH_PORT=.*|RELAYDASH_PORT=9992|' "$files/etc/default/relaydash"
inside systemctl restart relaydash
[[ $(inside systemctl is-active relaydash) == active ]] || {
  inside journalctl -q -u relaydash --no-pager -n 40 >&2
  echo "status-systemd: relaydash does not run" >&2
  exit 1
}
password=$(cat "$files/etc/relaydash/initial-password")
pid=$(inside systemctl show --property=MainPID --value relaydash)

# The forwarder's hour of reports, in the journal before the first call.
reports=0
for _ in $(seq 120); do
  reports=$(inside journalctl -q -u packet-forwarder --no-pager -o cat | grep -c '^##### END #####$' || true)
  ((reports >= 120)) && break
  sleep 0.5
done
((reports >= 120)) || { echo "status-systemd: only $reports reports in the journal" >&2; exit 1; }
echo "the journal holds $reports reports of packet-forwarder; relaydash is process $pid"

echo "== bench/status.py in the container"
inside python3 /usr/local/lib/relaydash-bench/status.py --no-start --url http://127.0.0.1:9992 \
  --password "$password" --pid "$pid" --unit packet-forwarder "$@"
