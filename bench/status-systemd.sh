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

suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}
# What scripts/test-systemd.sh's root holds, and Python for bench/status.py.
packages=systemd,systemd-sysv,dbus,openssh-server,libsqlite3-0,libsodium23,python3
cache=$root/.cache/bench-systemd
key="debootstrap --variant=minbase --include=$packages $suite $mirror"
if [[ ! -d $cache/root || $(cat "$cache/root.key" 2>/dev/null) != "$key" ]]; then
  echo "== a $suite root for the container in $cache/root (debootstrap)"
  mkdir -p "$cache"
  rm -rf "$cache/root" "$cache/root.key" "$cache/root.new"
  # Made aside and renamed when whole: an interrupted build is never taken for a root.
  if ! debootstrap --variant=minbase --include="$packages" "$suite" "$cache/root.new" "$mirror" \
      >"$cache/debootstrap.log" 2>&1; then
    cat "$cache/debootstrap.log" >&2
    rm -rf "$cache/root.new"
    exit 1
  fi
  chroot "$cache/root.new" apt-get clean
  echo gateway >"$cache/root.new/etc/hostname"
  mv "$cache/root.new" "$cache/root"
  echo "$key" >"$cache/root.key"
fi
if [[ ${1:-} == --prepare ]]; then exit 0; fi

version=$(sed -n 's/^project(relaydash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${RELAYDASH_DEB:-dist/relaydash_${version}_amd64.deb}
if [[ -z ${RELAYDASH_DEB:-} && ! -f $deb ]]; then scripts/package.sh amd64; fi
[[ -f $deb ]] || { echo "status-systemd: no package $deb" >&2; exit 1; }

work=$(mktemp -d /tmp/relaydash-bench-systemd.XXXXXX)
nspawn=
cleanup() {
  if [[ -n $nspawn ]] && kill -0 "$nspawn" 2>/dev/null; then
    # SIGTERM asks the container to shut down; whatever still runs after 30 s is killed.
    kill "$nspawn" 2>/dev/null || true
    for _ in $(seq 60); do
      kill -0 "$nspawn" 2>/dev/null || break
      sleep 0.5
    done
    kill -9 "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
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
# shellcheck disable=SC2016
unshare --mount --propagation private -- bash -c '
  set -e
  mount -t tmpfs tmpfs /run
  mount -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/overlay" "$2/merged"
  exec systemd-nspawn --quiet -D "$2/merged" --boot --register=no --keep-unit \
    --private-network --console=passive' bash "$cache/root" "$work" >"$work/console" 2>&1 &
nspawn=$!

init=
for _ in $(seq 100); do
  init=$(pgrep -P "$nspawn" -x systemd || true)
  [[ -n $init ]] && break
  kill -0 "$nspawn" 2>/dev/null || break
  sleep 0.2
done
if [[ -z $init ]]; then
  cat "$work/console" >&2
  echo "status-systemd: the container did not start" >&2
  exit 1
fi
inside() {
  nsenter -t "$init" -a /usr/bin/env -i LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
files=/proc/$init/root

state=
deadline=$((SECONDS + 120))
while ((SECONDS < deadline)); do
  state=$(timeout 30 nsenter -t "$init" -a systemctl is-system-running --wait 2>/dev/null) || true
  [[ $state == running || $state == degraded ]] && break
  kill -0 "$nspawn" 2>/dev/null || break
  sleep 0.5
done
if [[ $state != running && $state != degraded ]]; then
  cat "$work/console" >&2
  echo "status-systemd: the container did not finish booting ($state)" >&2
  exit 1
fi

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
