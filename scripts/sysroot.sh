#!/usr/bin/env bash
# sysroot.sh ARCH (armhf or arm64): makes .cache/sysroot/ARCH, the target's root that the ARM
# builds compile and link against (CMAKE_SYSROOT of cmake/toolchain-ARCH.cmake) and that qemu
# runs their programs in (qemu -L). It holds Debian's own ARCH packages named in
# scripts/sysroot/packages and everything they depend on, unpacked, never installed: nothing of
# ARCH goes into this machine, and its dpkg architectures are left alone.
#
# The packages are downloaded by apt with a configuration of its own (lists, archives and an
# empty dpkg status under .cache/sysroot/apt-ARCH) from the mirrors and suites of this machine's
# /etc/apt/sources.list.d/debian.sources, so they need not match this machine's packages.
# Each package's file list and control files (symbols, shlibs) go into a dpkg database inside
# the sysroot, var/lib/dpkg, where dpkg-shlibdeps finds the package of each ARM library a
# program needs (packaging/CMakeLists.txt).
#
# The sysroot is made again only when what it is made of changes: the recipe, the architecture,
# the mirrors or the place of the tree (the dpkg database holds the sysroot's own path). A stamp
# holding a hash of those is written as the last step, in a folder that is renamed into place
# only then: a half-made sysroot is never taken for a finished one.
#
# RELAYDASH_SYSROOT_RECIPE=FILE names another recipe (scripts/test-sysroot-refusal.sh).
# Exit status: 0 when the sysroot is ready; 75 (EX_TEMPFAIL) when apt cannot download the
# packages, after a few tries (a mirror out of sync, a package that does not exist), with apt's
# own message; 2 for a wrong argument; 1 for any other failure.
set -euo pipefail
# Any failure not handled below is the tree's or this machine's, never 75.
trap 'exit 1' ERR
root=$(cd "$(dirname "$0")/.." && pwd -P)
arch=${1:-}
case $arch in
  armhf) triplet=arm-linux-gnueabihf ;;
  arm64) triplet=aarch64-linux-gnu ;;
  *) echo "usage: scripts/sysroot.sh armhf|arm64" >&2; exit 2 ;;
esac
recipe=${RELAYDASH_SYSROOT_RECIPE:-$root/scripts/sysroot/packages}
sources=/etc/apt/sources.list.d/debian.sources
# Its real path, the one the compiler and dpkg-shlibdeps are given (.cache may be a link).
mkdir -p "$root/.cache/sysroot"
cache=$(cd "$root/.cache/sysroot" && pwd -P)
sysroot=$cache/$arch
aptdir=$cache/apt-$arch
# Raised when the way a sysroot is made changes, so that every cached one is made again.
layout=1
began=$SECONDS

packages=()
while read -r line; do
  line=${line%%#*}
  for word in $line; do packages+=("$word"); done
done <"$recipe"
if ((${#packages[@]} == 0)); then
  echo "sysroot: $recipe names no package" >&2
  exit 1
fi

# What the sysroot is made of; comments in the sources do not count.
stamp=$(
  {
    echo "layout $layout"
    echo "arch $arch"
    echo "path $sysroot"
    echo "packages ${packages[*]}"
    grep -v '^[[:space:]]*#' "$sources"
  } | sha256sum | cut -d' ' -f1
)

# One maker at a time for each architecture: they share apt's lists and archives.
exec 9>"$cache/$arch.lock"
flock 9
# With the lock held, a folder being made is what an interrupted run left behind.
rm -rf "$cache/.$arch".??????

if [[ -f $sysroot/.stamp && $(<"$sysroot/.stamp") == "$stamp" ]]; then
  echo "sysroot: $sysroot is up to date ($((SECONDS - began)) s)"
  exit 0
fi
echo "sysroot: making $sysroot from ${packages[*]}"

# apt's configuration, read after this machine's own (which may name a proxy or tell apt not to
# check how old the mirror's index is): only the architecture, the sources and where apt keeps
# its state differ. No hook of this machine runs for these lists.
mkdir -p "$aptdir/lists/partial" "$aptdir/archives/partial" "$aptdir/sources.list.d" \
  "$aptdir/preferences.d"
: >"$aptdir/status"
: >"$aptdir/sources.list"
grep -v '^[[:space:]]*#' "$sources" >"$aptdir/sources.list.d/debian.sources"
cat >"$aptdir/apt.conf" <<EOF
APT::Architecture "$arch";
#clear APT::Architectures;
APT::Architectures { "$arch"; };
APT::Install-Recommends "false";
APT::Install-Suggests "false";
Dir::State::Lists "$aptdir/lists/";
Dir::State::status "$aptdir/status";
Dir::Cache "$aptdir/";
Dir::Cache::Archives "$aptdir/archives/";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
Dir::Etc::SourceList "$aptdir/sources.list";
Dir::Etc::SourceParts "$aptdir/sources.list.d/";
Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "$aptdir/preferences.d/";
Acquire::Languages "none";
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
#clear DPkg::Pre-Invoke;
#clear DPkg::Post-Invoke;
EOF
apt_get() { apt-get -c "$aptdir/apt.conf" -q "$@"; }

# Indices, then the packages, tried again a few seconds apart. An index that cannot be fetched
# is tolerated as long as the packages can still be had (often only one suite is out of sync).
rm -f "$aptdir"/archives/*.deb
log=$aptdir/log
downloaded=0
for try in 1 2 3; do
  : >"$log"
  apt_get update >>"$log" 2>&1 || true
  if apt_get install --download-only -y "${packages[@]}" >>"$log" 2>&1; then
    downloaded=1
    break
  fi
  echo "sysroot: apt cannot download the $arch packages (try $try of 3)" >&2
  if ((try < 3)); then sleep 3; fi
done
if ((!downloaded)); then
  echo "sysroot: apt's messages:" >&2
  grep -v -E '^(Reading package lists|Building dependency tree|Reading state information)' \
    "$log" | sed 's/^/  /' >&2
  exit 75
fi
debs=("$aptdir"/archives/*.deb)
echo "sysroot: unpacking ${#debs[@]} packages"

# Made beside its final place, renamed into it once finished.
work=$(mktemp -d "$cache/.$arch.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
admindir=$work/var/lib/dpkg
mkdir -p "$admindir/info" "$admindir/updates" "$work/control"
echo "$arch" >"$admindir/arch"
: >"$admindir/status"
for deb in "${debs[@]}"; do
  dpkg-deb -x "$deb" "$work"
  package=$(dpkg-deb -f "$deb" Package)
  # A database without info/format names a package's files without its architecture.
  name=$package
  { dpkg-deb -f "$deb" | sed '1a Status: install ok installed'; echo; } >>"$admindir/status"
  # The file list holds the paths as they are on this machine, inside the sysroot: those are
  # the paths dpkg-shlibdeps asks about.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./||' -e 's|/$||' |
    awk -v prefix="$sysroot" 'NF { print prefix "/" $0 }' >"$admindir/info/$name.list"
  rm -rf "$work/control"/*
  dpkg-deb -e "$deb" "$work/control"
  for file in shlibs symbols triggers; do
    if [[ -f $work/control/$file ]]; then cp "$work/control/$file" "$admindir/info/$name.$file"; fi
  done
done
rm -rf "$work/control"

# A link to an absolute path points into this machine, not into the sysroot: the linker (a
# libc.so.6 reached from a development link) and qemu (the loader /lib/ld-linux-*.so.*) must
# find the target's file. Each becomes a link relative to its own folder.
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  [[ $target == /* ]] || continue
  ln -sfn "$(realpath -s -m --relative-to="$(dirname "$link")" "$work$target")" "$link"
done < <(find "$work" -type l -print0)
if [[ ! -e $work/usr/lib/$triplet/libc.so.6 && ! -e $work/lib/$triplet/libc.so.6 ]]; then
  echo "sysroot: the packages hold no $triplet C library" >&2
  exit 1
fi

echo "$stamp" >"$work/.stamp"
rm -rf "$sysroot"
mv "$work" "$sysroot"
trap - EXIT
rm -f "$aptdir"/archives/*.deb
echo "sysroot: $sysroot made in $((SECONDS - began)) s"
