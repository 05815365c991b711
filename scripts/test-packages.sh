#!/usr/bin/env bash
# Builds the three Debian packages (scripts/package.sh) and checks each one: its file list (and
# the empty folder of the operator's certificates), control fields and Depends:, a stripped
# program for the right machine, the conffile, lintian's verdict (no error, no warning), and
# `systemd-analyze verify` on its unit in a root made of the package and this machine's systemd
# units. The amd64 package's program is then started from the unpacked package and must answer
# /health and a sign-in. Installs what it needs (scripts/setup.sh cross package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/smoke.sh

scripts/setup.sh cross package

version=$(sed -n 's/^project(relaydash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
source scripts/lib/checks.sh

expected_files='./etc/default/relaydash
./lib/systemd/system/relaydash.service
./usr/bin/relaydash
./usr/share/doc/relaydash/README.md
./usr/share/doc/relaydash/changelog.gz
./usr/share/doc/relaydash/copyright
./usr/share/man/man1/relaydash.1.gz'

declare -A machine=([amd64]="x86-64" [armhf]="ARM, EABI5" [arm64]="ARM aarch64")

debs=()
for arch in amd64 armhf arm64; do
  echo "== relaydash_${version}_$arch.deb"
  scripts/package.sh "$arch" | tail -n 1
  deb=dist/relaydash_${version}_$arch.deb
  debs+=("$deb")

  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
  [[ $files == "$expected_files" ]] || fail "$deb holds:"$'\n'"$files"
  # The operator's certificates go here: shipped empty and readable by all, owned by root.
  tls_folder=$(dpkg-deb -c "$deb" | awk '$6 == "./etc/relaydash/tls/" { print $1, $2 }')
  [[ $tls_folder == "drwxr-xr-x root/root" ]] || fail "$deb: /etc/relaydash/tls is '$tls_folder'"
  [[ $(dpkg-deb -f "$deb" Package) == relaydash ]] || fail "$deb: Package"
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: Version"
  [[ $(dpkg-deb -f "$deb" Architecture) == "$arch" ]] || fail "$deb: Architecture"
  depends=$(dpkg-deb -f "$deb" Depends)
  # The dlopen'ed libraries, the service manager, and the C library dpkg-shlibdeps found.
  for needed in libsqlite3-0 libsodium23 libssl3 systemd 'libc6 (>= '; do
    [[ ", $depends" == *", $needed"* ]] || fail "$deb: Depends: $depends lacks $needed"
  done
  echo "Depends: $depends"

  unpacked=$work/$arch
  mkdir -p "$unpacked/control"
  dpkg-deb -x "$deb" "$unpacked"
  dpkg-deb -e "$deb" "$unpacked/control"
  program=$(file -b "$unpacked/usr/bin/relaydash")
  [[ $program == *"${machine[$arch]}"* ]] || fail "$deb: the program is $program"
  [[ $program == *", stripped"* ]] || fail "$deb: the program is not stripped"
  [[ $(cat "$unpacked/control/conffiles") == /etc/default/relaydash ]] || fail "$deb: conffiles"
  for script in postinst prerm postrm; do
    [[ -x $unpacked/control/$script ]] || fail "$deb: no executable $script"
  done
  cmp -s "$unpacked/lib/systemd/system/relaydash.service" packaging/relaydash.service ||
    fail "$deb: the unit differs from packaging/relaydash.service"

  # verify prints a warning for every directive it ignores, yet exits 0: any output fails.
  cp -r /lib/systemd/system/. "$unpacked/lib/systemd/system/"
  if ! verdict=$(MANPATH=$unpacked/usr/share/man \
      systemd-analyze verify --root="$unpacked" relaydash.service 2>&1) || [[ -n $verdict ]]; then
    fail "$deb: systemd-analyze verify: $verdict"
  fi
done

echo "== lintian"
# Informational tags are listed but pass; so far: .comment and bind-now/fortify hardening
# notes on the program, the word "charactor" in a fixed error message, and no init.d script.
lintian --display-info "${debs[@]}" 2>&1 | grep -v '^running with root privileges' |
  tee "$work/lintian" || true
if grep -E '^[EW]: ' "$work/lintian"; then fail "lintian reports errors or warnings"; fi

echo "== the amd64 package's program, started from the unpacked package"
smoke_test "$work/amd64/usr/bin/relaydash" || fail "the unpacked amd64 program"

end_checks test-packages "all checks passed for ${debs[*]}"
