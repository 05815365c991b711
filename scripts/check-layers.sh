#!/usr/bin/env bash
# check-layers.sh: fails on an include that runs upward between the folders of src/. Each folder
# may include the folders listed for it and nothing above: app -> api -> the libraries below.
# CMake's targets do not stop a stray include, so CI runs this.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [ascii]=""
  [runtime]=""
  [loader]=""
  [ui]=""
  [metrics]=""
  [json]="ascii"
  [cli]="ascii"
  [transport]="ascii runtime"
  [crypto]="ascii loader"
  [tls]="ascii loader runtime"
  [model]="ascii crypto loader runtime"
  [gateway]="ascii json loader runtime"
  [security]="ascii crypto json loader"
  [server]="ascii json runtime transport"
  [api]="ascii crypto gateway json loader model runtime security server tls transport"
  [app]="api ascii crypto gateway json loader metrics model runtime security server tls transport ui"
)

status=0
for folder in src/*/; do
  name=$(basename "$folder")
  if [[ ! -v allowed[$name] ]]; then
    echo "check-layers: src/$name is in no layer: add it to scripts/check-layers.sh" >&2
    status=1
    continue
  fi
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    [[ $target == "$name" || " ${allowed[$name]} " == *" $target "* ]] && continue
    echo "check-layers: $file:$line includes $target/, above $name/" >&2
    status=1
  done < <(grep -rnoE '^#include "[a-z_]+/' "$folder" || true)
done
if ((status == 0)); then echo "check-layers: every include runs downward"; fi
exit $status
