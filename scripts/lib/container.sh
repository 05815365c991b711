# A Debian root booted under systemd-nspawn, for the package under a real systemd
# (scripts/test-systemd.sh) and the cost of a status under it (bench/status-systemd.sh). Sourced
# by those scripts, which run as root. NAME in messages is the script's name.

# container_root CACHE PACKAGES NAME: the root (debootstrap, minbase, and the comma-separated
# PACKAGES) in CACHE/root, kept and made again only when its package list, suite or mirror
# changes. Exits 75 (EX_TEMPFAIL) with debootstrap's message when the mirror cannot give the
# packages: no fault of the tree's.
container_root() {
  local cache=$1 packages=$2 name=$3 suite mirror key built
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  mirror=${mirror:-http://deb.debian.org/debian}
  key="debootstrap --variant=minbase --include=$packages $suite $mirror"
  if [[ -d $cache/root && $(cat "$cache/root.key" 2>/dev/null) == "$key" ]]; then
    echo "== the cached $suite root in $cache/root"
    return 0
  fi
  echo "== a $suite root for the container in $cache/root (debootstrap)"
  built=$SECONDS
  mkdir -p "$cache"
  rm -rf "$cache/root" "$cache/root.key" "$cache/root.new"
  # Made aside and renamed when whole: an interrupted build is never taken for a root.
  if ! debootstrap --variant=minbase --include="$packages" "$suite" "$cache/root.new" "$mirror" \
      >"$cache/debootstrap.log" 2>&1; then
    cat "$cache/debootstrap.log" >&2
    rm -rf "$cache/root.new"
    if grep -qE "Couldn't download|Failed getting release file|Failed to fetch|Couldn't find these debs" \
        "$cache/debootstrap.log"; then
      echo "$name: the mirror cannot give the root's packages" >&2
      exit 75
    fi
    exit 1
  fi
  chroot "$cache/root.new" apt-get clean
  echo gateway >"$cache/root.new/etc/hostname"
  mv "$cache/root.new" "$cache/root"
  echo "$key" >"$cache/root.key"
  echo "root made in $((SECONDS - built)) s"
}

# Shuts the container down (SIGTERM asks it to; whatever still runs after 30 s is killed) and
# removes $work. The overlay was mounted in the container's own mount namespace, gone with it.
container_cleanup() {
  if [[ -n ${nspawn:-} ]] && kill -0 "$nspawn" 2>/dev/null; then
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

# boot_container ROOT NAME: boots ROOT under an overlay whose upper layer is $work/upper (what
# the run adds, written before), and waits until systemd has finished starting. Sets nspawn (the
# nspawn process), init (the container's systemd), files (its files as seen from here) and
# container_state (running or degraded). Exits 1 with the console when it does not boot.
boot_container() {
  local root=$1 name=$2 deadline
  mkdir -p "$work/overlay" "$work/merged"
  # This machine may have no systemd of its own and its /run on disk: nspawn gets a private
  # mount namespace with a fresh /run, registers with no machine manager and makes no scope unit.
  # shellcheck disable=SC2016
  unshare --mount --propagation private -- bash -c '
    set -e
    mount -t tmpfs tmpfs /run
    mount -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/overlay" "$2/merged"
    exec systemd-nspawn --quiet -D "$2/merged" --boot --register=no --keep-unit \
      --private-network --console=passive' bash "$root" "$work" >"$work/console" 2>&1 &
  nspawn=$!
  # The container's init is nspawn's child.
  init=
  for _ in $(seq 100); do
    init=$(pgrep -P "$nspawn" -x systemd || true)
    [[ -n $init ]] && break
    kill -0 "$nspawn" 2>/dev/null || break
    sleep 0.2
  done
  if [[ -z $init ]]; then
    cat "$work/console" >&2
    echo "$name: the container did not start" >&2
    exit 1
  fi
  files=/proc/$init/root
  # Up once systemd has finished starting (or knows what failed); its bus may not answer at once.
  container_state=
  deadline=$((SECONDS + 120))
  while ((SECONDS < deadline)); do
    container_state=$(timeout 30 nsenter -t "$init" -a systemctl is-system-running --wait 2>/dev/null) || true
    [[ $container_state == running || $container_state == degraded ]] && break
    kill -0 "$nspawn" 2>/dev/null || break
    sleep 0.5
  done
  if [[ $container_state != running && $container_state != degraded ]]; then
    cat "$work/console" >&2
    echo "$name: the container did not finish booting ($container_state)" >&2
    exit 1
  fi
}

# Runs a command in the container (every namespace of its init) with a clean environment.
inside() {
  nsenter -t "$init" -a /usr/bin/env -i LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# Runs a program of this machine in the container's network namespace only.
in_network() {
  nsenter -t "$init" -n "$@"
}
