# shellcheck shell=bash
# Sourced by the test scripts. smoke_test PROGRAM [RUNNER...]: starts PROGRAM (through RUNNER,
# e.g. qemu-aarch64, when given) in a scratch folder against a copy of a sample forwarder
# configuration, with a stand-in systemctl first on PATH, and checks what an operator sees
# first: --help, the /health answer and a sign-in as admin. Only 127.0.0.1 is used.

smoke_sample=tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json

smoke_test() {
  local program
  program=$(realpath "$1"); shift
  local runner=("$@")
  local work port pid answer
  work=$(mktemp -d)
  cp "$smoke_sample" "$work/global_conf.json"
  mkdir "$work/bin"
  printf '#!/bin/sh\necho "systemctl $*" >> %s/systemctl.log\n' "$work" > "$work/bin/systemctl"
  chmod +x "$work/bin/systemctl"

  if ! "${runner[@]}" "$program" --help | head -n 1 | grep -qx 'Usage:'; then
    echo "smoke: $program --help does not print the usage" >&2
    return 1
  fi

  # A random port that nothing answers on yet; another try when binding fails all the same.
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    if curl -s --max-time 1 "http://127.0.0.1:$port/" >/dev/null 2>&1; then continue; fi
    (cd "$work" && PATH="$work/bin:$PATH" exec "${runner[@]}" "$program" --listen 127.0.0.1 \
      --port "$port" --forwarderConfigPath "$work/global_conf.json" \
      --dataPath "$work/relaydash.sqlite3") > "$work/out" 2>&1 &
    pid=$!
    for _ in $(seq 200); do
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      if curl -s --max-time 2 "http://127.0.0.1:$port/health" >/dev/null 2>&1; then break 2; fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if ! grep -q "Address already in use" "$work/out"; then
      echo "smoke: $program did not start:" >&2
      cat "$work/out" >&2
      return 1
    fi
  done

  local failed=0
  answer=$(curl -s --max-time 10 "http://127.0.0.1:$port/health")
  if [[ $answer != '{"kit":"1.4.2"}' ]]; then
    echo "smoke: /health answered: $answer" >&2
    failed=1
  fi
  answer=$(curl -s --max-time 10 -X POST --data '{"username":"admin","password":"quilm"}' \
    "http://127.0.0.1:$port/rpc/v1/login/password")
  if [[ $answer != '{"output":{"auth":"'* ]]; then
    echo "smoke: the sign-in answered: $answer" >&2
    failed=1
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "smoke: the server is gone" >&2
    failed=1
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ((failed)); then cat "$work/out" >&2; fi
  rm -rf "$work"
  ((failed == 0)) && echo "smoke: $program answered --help, /health and a sign-in on port $port"
}
