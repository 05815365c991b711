# shellcheck shell=bash
# Sourced by .ci/run: a run made of timed stages, each with a set-up that installs or makes what it
# needs, and the stage's own command.
#   stage NAME SETUP COMMAND [ARG...]
# SETUP is a shell command line. When it exits 75, the stage's packages could not be downloaded
# (the mirror's fault, not the tree's): one line names the stage and apt's error, the stage alone is
# skipped, and `stages_end` lists it. Any other failure, of the set-up or of the command, ends the
# run with that status.
#   prepare_early NAME SETUP
# starts a later stage's set-up now, in the background (one that mostly downloads and unpacks can
# go on beside a stage that mostly compiles); that stage then waits for it and shows its output.
# `stages_end` prints the total time and the skipped stages, one line each.

stages_began=$SECONDS
stages_skipped=()
declare -A stages_early_pid=() stages_early_log=()

prepare_early() {
  local name=$1 setup=$2 log
  log=$(mktemp)
  { bash -c "$setup" && echo 0 >"$log.status" || echo $? >"$log.status"; } >"$log" 2>&1 </dev/null &
  stages_early_pid[$name]=$!
  stages_early_log[$name]=$log
}

stage() {
  local name=$1 setup=$2
  shift 2
  local began=$SECONDS status=0 log
  echo "==== $name"
  if [[ -n ${stages_early_log[$name]:-} ]]; then
    log=${stages_early_log[$name]}
    wait "${stages_early_pid[$name]}" || true
    echo "(set up beforehand: $setup)"
    cat "$log"
  else
    log=$(mktemp)
    { bash -c "$setup" && echo 0 >"$log.status" || echo $? >"$log.status"; } 2>&1 | tee "$log"
  fi
  status=$(<"$log.status")
  if ((status == 75)); then
    local error fetch
    # apt's own error that ended the set-up: its last "E: " line but the generic one about
    # indices, and the first index that could not be fetched, if one could not.
    error=$(grep -E '(^|[[:space:]])E: ' "$log" | grep -v 'Some index files failed to download' |
      tail -n 1 | sed -E 's/^[[:space:]]+//') || true
    fetch=$(grep -m 1 -E '(^|[[:space:]])E: Failed to fetch' "$log" | sed -E 's/^[[:space:]]+//') || true
    [[ -n $error ]] || error=$(grep -v '^[[:space:]]*$' "$log" | tail -n 1) || true
    if [[ -n $fetch && $fetch != "$error" ]]; then error="$error (and $fetch)"; fi
    rm -f "$log" "$log.status"
    echo "==== SKIPPED: $name: its packages cannot be downloaded: $error"
    stages_skipped+=("$name")
    return 0
  fi
  rm -f "$log" "$log.status"
  if ((status)); then
    echo "==== FAILED: $name: its set-up ($setup) ended with status $status"
    exit "$status"
  fi
  "$@" || status=$?
  if ((status)); then
    echo "==== FAILED: $name: status $status after $((SECONDS - began)) s"
    exit "$status"
  fi
  echo "==== $name: $((SECONDS - began)) s"
}

stages_end() {
  echo "==== all stages: $((SECONDS - stages_began)) s"
  if ((${#stages_skipped[@]})); then
    local name
    echo "==== ${#stages_skipped[@]} stage(s) SKIPPED, their packages could not be downloaded:"
    for name in "${stages_skipped[@]}"; do echo "====   $name"; done
  fi
}
