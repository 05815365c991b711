#!/usr/bin/env bash
# The amd64 package as an operator meets it, installed with apt into a throwaway Debian root
# (debootstrap, minbase, this machine's release) and never into this machine. There systemd
# does not run: a stand-in systemctl (scripts/lib/fake-systemctl) logs its calls and runs the
# unit's command line by hand. Checked: the "could not load" message when a library is missing;
# a first installation whose service will not start still ends configured, enabled and with
# the message; the service answers /health and a sign-in on the port set in
# /etc/default/relaydash; installing again, upgrading and removing keep the account database
# and the options; purging deletes them. Installs what it needs (scripts/setup.sh package).
# Takes dist/relaydash_VERSION_amd64.deb (made by scripts/package.sh amd64 when missing), or the
# package RELAYDASH_DEB names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh package

version=$(sed -n 's/^project(relaydash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${RELAYDASH_DEB:-dist/relaydash_${version}_amd64.deb}
if [[ -z ${RELAYDASH_DEB:-} && ! -f $deb ]]; then scripts/package.sh amd64; fi
[[ -f $deb ]] || { echo "test-install: no package $deb" >&2; exit 1; }

target=$(mktemp -d /tmp/relaydash-root.XXXXXX)
cleanup() {
  if [[ -f $target/run/fake-systemd/pid ]]; then
    kill "$(cat "$target/run/fake-systemd/pid")" 2>/dev/null || true
  fi
  rm -rf "$target"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# Runs a command in the root with a clean environment.
in_root() {
  chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
apt_in_root() {
  in_root apt-get -qq -o Dpkg::Use-Pty=0 -o APT::Sandbox::User=root "$@"
}
status() {
  # shellcheck disable=SC2016
  in_root dpkg-query -W -f='${Status} ${Version}' relaydash 2>/dev/null || true
}
calls() {
  cat "$target/run/fake-systemd/calls" 2>/dev/null || true
}
answer() {
  curl -s --max-time 10 "$@" || true
}
sign_in() {
  answer -X POST --data "{\"username\":\"admin\",\"password\":\"$1\"}" \
    "http://127.0.0.1:$port/rpc/v1/login/password"
}

echo "== a $(. /etc/os-release && echo "$VERSION_CODENAME") root in $target (debootstrap)"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
debootstrap --variant=minbase "$suite" "$target" "${mirror:-http://deb.debian.org/debian}" \
  >"$target.log" 2>&1 || { cat "$target.log" >&2; exit 1; }
rm -f "$target.log"
cp "$deb" "$target/tmp/relaydash.deb"
# The same package, one version later: an upgrade.
dpkg-deb -R "$deb" "$target/tmp/next"
sed -i "s/^Version: .*/Version: $version+1/" "$target/tmp/next/DEBIAN/control"
dpkg-deb -b "$target/tmp/next" "$target/tmp/relaydash-next.deb" >/dev/null

echo "== the program without its libraries"
in_root dpkg-deb -x /tmp/relaydash.deb /tmp/unpacked
apt_in_root update 2>&1
for library in libsqlite3-0 libsodium23; do
  case $library in
  libsqlite3-0) expected="could not load: libsqlite3.so(|.0)" ;;
  libsodium23) expected="could not load: libsodium.so(|.26|.23|.18)" ;;
  esac
  code=0
  message=$(in_root /tmp/unpacked/usr/bin/relaydash --help 2>&1) || code=$?
  [[ $code == 1 && $message == "$expected" ]] ||
    fail "without $library: status $code, \"$message\""
  echo "without $library: status $code, $message"
  apt_in_root install --no-install-recommends "$library" >/dev/null 2>&1
done

echo "== systemd and the stand-in systemctl"
apt_in_root install --no-install-recommends systemd >/dev/null 2>&1
in_root dpkg-divert --quiet --local --rename --add /usr/bin/systemctl
install -m 0755 scripts/lib/fake-systemctl "$target/usr/bin/systemctl"
mkdir -p "$target/run/systemd/system" "$target/run/fake-systemd"

echo "== first installation, with a service that will not start"
touch "$target/run/fake-systemd/refuse-start"
output=$(apt_in_root install /tmp/relaydash.deb 2>&1) || fail "apt install: $output"
echo "$output" | sed -n '/relaydash did not start/,/^$/p'
[[ $(status) == "install ok installed $version" ]] || fail "status: $(status)"
[[ -L $target/etc/systemd/system/multi-user.target.wants/relaydash.service ]] ||
  fail "the unit is not enabled"
[[ $output == *"journalctl -u relaydash"* && $output == *":9992/ui"* &&
  $output == *"password in /etc/relaydash/initial-password"* ]] || fail "the message: $output"
password_file=$target/etc/relaydash/initial-password
[[ $(stat -c %a "$password_file" 2>&1) == 600 ]] ||
  fail "the first password's file: $(stat -c %a "$password_file" 2>&1)"
first_password=$(cat "$password_file" 2>/dev/null || true)
[[ ${#first_password} -ge 16 ]] || fail "the first password: '$first_password'"

echo "== the operator's port, then a start by hand"
port=$((20000 + RANDOM % 40000))
sed -i "s/^RELAYDASH_PORT=.*/RELAYDASH_PORT=$port/" "$target/etc/default/relaydash"
rm "$target/run/fake-systemd/refuse-start"
in_root systemctl restart relaydash.service || fail "no start: $(cat "$target/run/fake-systemd/output")"
[[ $(answer "http://127.0.0.1:$port/health") == '{"kit":"1.4.2"}' ]] || fail "/health on $port"
[[ $(sign_in quilm) == '{"error":{"code":23009,'* ]] || fail "the factory password: $(sign_in quilm)"
auth=$(sign_in "$first_password" | sed -n 's/^{"output":{"auth":"\([^"]*\)"}}$/\1/p')
[[ -n $auth ]] || fail "no sign-in with the first password"
changed=$(answer -X POST --data "{\"auth\":\"$auth\",\"input\":{\"currentPassword\":\"$first_password\",\"newPassword\":\"gateway-1\"}}" \
  "http://127.0.0.1:$port/rpc/v1/password/update")
[[ $changed == '{"output":{}}' ]] || fail "password change: $changed"
[[ ! -e $password_file ]] || fail "the first password's file is left after the change"
[[ -f $target/var/lib/relaydash/relaydash.sqlite3 ]] || fail "no database in /var/lib/relaydash"
[[ $(stat -c %a "$target/var/lib/relaydash/relaydash.sqlite3") == 600 ]] ||
  fail "the account database's mode: $(stat -c %a "$target/var/lib/relaydash/relaydash.sqlite3")"
echo "serving on $port, password changed"

# After each step: running with the port and the password of before.
still_serving() {
  [[ $(sign_in gateway-1) == '{"output":{"auth":"'* ]] || fail "$1: no sign-in with the new password"
  grep -q "^RELAYDASH_PORT=$port\$" "$target/etc/default/relaydash" || fail "$1: the port is lost"
}

echo "== installing again"
: >"$target/run/fake-systemd/calls"
apt_in_root install --reinstall /tmp/relaydash.deb >/dev/null 2>&1 || fail "reinstall"
[[ $(calls) == *"restart relaydash.service"* ]] || fail "reinstall: no restart"$'\n'"$(calls)"
still_serving reinstall

echo "== upgrading to $version+1"
output=$(apt_in_root install /tmp/relaydash-next.deb 2>&1) || fail "upgrade: $output"
[[ $(status) == "install ok installed $version+1" ]] || fail "upgrade: $(status)"
echo "$output" | sed -n '/relaydash is running/,/^$/p'
# Running again, and no word of a first password: it has been changed.
[[ $output == *"relaydash is running. Open http://"*":$port/ui"* &&
  $output != *"initial-password"* ]] || fail "upgrade: the message: $output"
still_serving upgrade

echo "== removing"
apt_in_root remove relaydash >/dev/null 2>&1 || fail "remove"
[[ $(status) == "deinstall ok config-files $version+1" ]] || fail "remove: $(status)"
[[ -z $(answer "http://127.0.0.1:$port/health") ]] || fail "remove: still serving"
[[ ! -e $target/usr/bin/relaydash ]] || fail "remove: the program is left"
[[ -f $target/var/lib/relaydash/relaydash.sqlite3 ]] || fail "remove: the database is gone"
[[ $(readlink "$target/etc/systemd/system/relaydash.service") == /dev/null ]] ||
  fail "remove: the unit is not masked"

echo "== installing after the removal"
apt_in_root install /tmp/relaydash-next.deb >/dev/null 2>&1 || fail "install after remove"
still_serving "install after remove"

echo "== purging"
apt_in_root purge relaydash >/dev/null 2>&1 || fail "purge"
[[ -z $(status) || $(status) == "unknown ok not-installed"* ]] || fail "purge: $(status)"
[[ ! -e $target/var/lib/relaydash ]] || fail "purge: /var/lib/relaydash is left"
[[ ! -e $target/etc/default/relaydash ]] || fail "purge: /etc/default/relaydash is left"
[[ ! -e $target/etc/relaydash ]] || fail "purge: /etc/relaydash is left"
left=$(find "$target/etc/systemd" -name 'relaydash*')
[[ -z $left ]] || fail "purge: left $left"
[[ -z $(answer "http://127.0.0.1:$port/health") ]] || fail "purge: still serving"

if ((failures)); then
  echo "test-install: $failures check(s) failed" >&2
  exit 1
fi
echo "test-install: all checks passed"
