#!/usr/bin/env bash
# The Ansible collection relaydash.gateway (ansible/) against five relaydash servers on 127.0.0.1,
# each with its own folder, port, account database, copy of an SX1302 forwarder configuration and
# stand-ins for systemctl, journalctl and timedatectl (tests/support/fake-systemd). The third
# one's forwarder crashes on the change, so it rolls it back. Checks that
#   - the collection builds and installs (ansible-galaxy), and ansible-lint finds nothing;
#   - playbooks/rolling-change.yml changes the first two gateways (the first over HTTPS with its
#     certificate pinned), fails on the third with the rollback's reason, and stops there: the
#     fourth and fifth keep their file and their forwarder is never restarted;
#   - once the third is fixed, a second run changes nothing on the first two, and the third
#     takes the change;
#   - playbooks/metrics-keys.yml gives each gateway a metrics key kept on the control node, with
#     an HTTPS gateway's certificate and the Prometheus scrape jobs, changes nothing the second
#     time, and makes a lost key anew (revoking it);
#   - check mode (with diff) changes nothing; a plan the file already implements changes
#     nothing; a wrong fingerprint sends nothing; the password module is idempotent.
# Installs nothing: says what is missing (ansible-core and ansible-lint are Debian packages).
# RELAYDASH names the server binary (default build/relaydash).
set -euo pipefail
source "$(dirname "$0")/lib/local-gateways.sh"
gateways_need "ansible-core curl python3" ansible-playbook ansible-galaxy ansible-vault ansible python3 curl

gateways_work ansible

sample=tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json
unit=packet-forwarder
for n in 1 2 3 4 5; do gateway_start "$n"; done
[[ -n ${fingerprint[1]} ]] || { echo "gateway 1 has no HTTPS:"; cat "$work/gw1/out"; exit 1; }

# The forwarder of gateway 3 crashes after its restart when its file holds the new address.
target=rollout-test.example.net
printf '%s\n' "$work/gw3/global_conf.json" >"$work/gw3/bin/state/config-$unit"
printf '%s\n' "$target" >"$work/gw3/bin/state/reject-$unit"

echo "== the collection builds and installs"
export ANSIBLE_COLLECTIONS_PATH=$work/collections
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_HOST_KEY_CHECKING=0 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_LOAD_CALLBACK_PLUGINS=0
ansible-galaxy collection build ansible --output-path "$work" >"$work/build.log"
ansible-galaxy collection install --offline "$work"/relaydash-gateway-*.tar.gz -p "$work/collections" >"$work/install.log"
for module in relaydash_status relaydash_forwarder_config relaydash_password; do
  check "ansible-doc reads $module's documentation" \
    bash -c "ansible-doc relaydash.gateway.$module 2>&1 | grep -q '^OPTIONS'"
done
# The Python that runs Ansible (it has ansible.module_utils), from `ansible --version`.
ansible_python=$(ansible --version | sed -n 's/^ *python version = .*(\(\/[^()]*\))$/\1/p')
check "the modules' unit tests pass" bash -c "cd '$work/collections' && PYTHONPATH='$work/collections' \
  '${ansible_python:-python3}' -m unittest -q ansible_collections.relaydash.gateway.tests.unit.plugins.modules.test_relaydash_forwarder_config 2>'$work/unit.log' \
  || { cat '$work/unit.log'; false; }"
check "installed as relaydash.gateway" test -f "$work/collections/ansible_collections/relaydash/gateway/plugins/modules/relaydash_forwarder_config.py"

echo "== inventory of five gateways, the password in a vault"
inventory=$work/inventory
mkdir -p "$inventory/group_vars/gateways"
{
  echo "[gateways]"
  echo "gw1 relaydash_url=https://127.0.0.1:${port[1]} relaydash_fingerprint=${fingerprint[1]}"
  for n in 2 3 4 5; do echo "gw$n relaydash_url=http://127.0.0.1:${port[$n]}"; done
  echo "[gateways:vars]"
  echo "ansible_connection=local"
  echo "ansible_python_interpreter=$(command -v python3)"
  echo "relaydash_settle_seconds=1"
} >"$inventory/hosts.ini"
echo "vault-test-passphrase" >"$work/vault-pass"
echo "vault_relaydash_password: quilm" >"$inventory/group_vars/gateways/vault.yml"
ansible-vault encrypt --vault-password-file "$work/vault-pass" "$inventory/group_vars/gateways/vault.yml" >/dev/null
check "the vault file is encrypted" grep -q "^[$]ANSIBLE_VAULT" "$inventory/group_vars/gateways/vault.yml"

playbook=$root/ansible/playbooks/rolling-change.yml
patch="{\"relaydash_patch\": {\"gateway_conf\": {\"server_address\": \"$target\"}}}"
# play LOG ARGS...: runs the rolling playbook; its status is in $played.
play() {
  local log=$1
  shift
  played=0
  ansible-playbook -i "$inventory/hosts.ini" --vault-password-file "$work/vault-pass" "$@" "$playbook" \
    >"$work/$log" 2>&1 || played=$?
}
# recap LOG HOST: the PLAY RECAP line of HOST ("ok=3 changed=1 unreachable=0 failed=0 …"), or nothing.
recap() { sed -n '/^PLAY RECAP/,$p' "$work/$1" | awk -v h="$2" '$1 == h { $1 = ""; $2 = ""; print }'; }
counts() { # counts LOG HOST EXPECTED...: every "name=value" EXPECTED is in HOST's recap line
  local log=$1 host=$2 line
  shift 2
  line=" $(recap "$log" "$host") "
  for want in "$@"; do [[ $line == *" $want "* ]] || { echo "     $host: $line (wanted $*)"; return 1; }; done
}
same_file() { cmp -s "$sample" "$work/gw$1/global_conf.json"; }
holds_target() { grep -q "\"server_address\": *\"$target\"" "$work/gw$1/global_conf.json"; }
restarted() { grep -q "^systemctl \[restart\]" "$work/gw$1/bin/state/calls" 2>/dev/null; }

echo "== check mode on gateway 4 changes nothing"
play check.log --check --diff --limit gw4 -e "$patch"
check "check mode succeeds" test "$played" = 0
check "check mode reports the change it would make" counts check.log gw4 changed=1 failed=0
check "the diff shows the new address" grep -q "^+.*\"server_address\": \"$target\"" "$work/check.log"
old_address=$(sed -n 's/^ *"server_address": "\([^"]*\)".*/\1/p' "$sample" | head -1)
check "the diff shows the address it replaces" grep -q "^-.*\"server_address\": \"$old_address\"" "$work/check.log"
check "check mode leaves the file" same_file 4
check "check mode restarts nothing" bash -c "! grep -q restart '$work/gw4/bin/state/calls' 2>/dev/null"

echo "== the rolling change: 1, then 2 at a time, stopping at the rollback"
play rolling.log -e "$patch"
check "the play fails" test "$played" != 0
check "gateway 1 (HTTPS, pinned) changed" counts rolling.log gw1 changed=1 failed=0
check "gateway 2 changed" counts rolling.log gw2 changed=1 failed=0
check "gateway 3 failed" counts rolling.log gw3 failed=1
check "gateway 1's file has the new address" holds_target 1
check "gateway 2's file has the new address" holds_target 2
check "gateway 3's file is the old one again" same_file 3
check "the failure says the gateway rolled the change back, and why" \
  grep -q "FAILED.*\"msg\": \"The change was rolled back: the forwarder stopped" "$work/rolling.log"
check "the play stopped before gateway 4" test -z "$(recap rolling.log gw4)"
check "the play stopped before gateway 5" test -z "$(recap rolling.log gw5)"
for n in 4 5; do
  check "gateway $n's file is untouched" same_file "$n"
  check "gateway $n's forwarder was not restarted" bash -c "! grep -q restart '$work/gw$n/bin/state/calls' 2>/dev/null"
done

echo "== gateway 3 fixed: nothing more to do on the first two"
rm "$work/gw3/bin/state/reject-$unit"
play again.log --diff --limit gw1,gw2 -e "$patch"
check "the second run succeeds" test "$played" = 0
check "gateway 1 unchanged" counts again.log gw1 changed=0 failed=0
check "gateway 2 unchanged" counts again.log gw2 changed=0 failed=0
play third.log --limit gw3 -e "$patch"
check "gateway 3 now takes the change" counts third.log gw3 changed=1 failed=0
check "gateway 3's file has the new address" holds_target 3

# adhoc LOG HOST MODULE ARGS [ansible options]: one module call; its status is in $played.
adhoc() {
  local log=$1 host=$2 module=$3 args=$4
  shift 4
  played=0
  ansible "$host" -i "$inventory/hosts.ini" --vault-password-file "$work/vault-pass" \
    -m "relaydash.gateway.$module" -a "$args" "$@" >"$work/$log" 2>&1 || played=$?
}

echo "== frequency plans"
adhoc plan-same.log gw5 relaydash_forwarder_config \
  '{"url": "{{ relaydash_url }}", "password": "{{ vault_relaydash_password }}", "plan": {"region": "EU868"}, "settle_seconds": 1}'
check "a plan the file already implements changes nothing" grep -q '"changed": false' "$work/plan-same.log"
adhoc plan-check.log gw5 relaydash_forwarder_config \
  '{"url": "{{ relaydash_url }}", "password": "{{ vault_relaydash_password }}", "plan": {"region": "US915", "subBand": 2}}' --check
check "another plan would change the file (check mode)" grep -q '"changed": true' "$work/plan-check.log"
check "check mode of a plan leaves the file" same_file 5

echo "== status and certificate pinning"
adhoc status.log gw1 relaydash_status \
  '{"url": "{{ relaydash_url }}", "password": "{{ vault_relaydash_password }}", "fingerprint": "{{ relaydash_fingerprint }}"}'
check "the status comes back as a fact" grep -q '"relaydash_status"' "$work/status.log"
wrong=$(printf '%s' "${fingerprint[1]}" | tr '0-9A-F' '1-9A-F0')
adhoc pin.log gw1 relaydash_status \
  "{\"url\": \"{{ relaydash_url }}\", \"password\": \"{{ vault_relaydash_password }}\", \"fingerprint\": \"$wrong\"}"
check "a certificate of another fingerprint is refused" grep -q "nothing was sent" "$work/pin.log"
adhoc unpinned.log gw1 relaydash_status '{"url": "{{ relaydash_url }}", "password": "{{ vault_relaydash_password }}"}'
check "an unpinned self-signed certificate is refused" test "$played" != 0
adhoc unchecked.log gw1 relaydash_status \
  '{"url": "{{ relaydash_url }}", "password": "{{ vault_relaydash_password }}", "validate_certs": false}'
check "validate_certs=false accepts it" grep -q '"relaydash_status"' "$work/unchecked.log"

echo "== the password"
password_args='{"url": "{{ relaydash_url }}", "password": "quilm", "new_password": "correct-horse-7"}'
adhoc password-check.log gw5 relaydash_password "$password_args" --check
check "check mode would change the password" grep -q '"changed": true' "$work/password-check.log"
adhoc password.log gw5 relaydash_password "$password_args"
check "the password changes" grep -q '"changed": true' "$work/password.log"
adhoc password-again.log gw5 relaydash_password "$password_args"
check "the second time nothing changes" grep -q '"changed": false' "$work/password-again.log"
check "the password is not shown" bash -c "! grep -q correct-horse-7 '$work/password.log' '$work/password-again.log'"

echo "== metrics keys for Prometheus"
keys=$work/prometheus-keys
# keys_play LOG: runs playbooks/metrics-keys.yml on gateways 1 and 2 from $work; its status is in $played.
keys_play() {
  played=0
  (cd "$work" && ansible-playbook -i "$inventory/hosts.ini" --vault-password-file "$work/vault-pass" \
    --limit gw1,gw2 "$root/ansible/playbooks/metrics-keys.yml") >"$work/$1" 2>&1 || played=$?
}
# scrape N KEYFILE: the HTTP status of gateway N's /metrics read with the key in KEYFILE.
scrape() {
  local scheme=http
  [[ $1 == 1 ]] && scheme=https
  curl -sk -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $(cat "$2")" "$scheme://127.0.0.1:${port[$1]}/metrics"
}
keys_play keys.log
check "the keys playbook succeeds" test "$played" = 0
check "it makes and keeps gateway 1's key and certificate, the folder and the jobs" counts keys.log gw1 changed=5 failed=0
check "it makes and keeps gateway 2's key" counts keys.log gw2 changed=2 failed=0
for n in 1 2; do
  check "gateway $n's key is kept, readable by its owner alone" test "$(stat -c %a "$keys/gw$n.key" 2>/dev/null)" = 600
  check "gateway $n's key reads its /metrics" test "$(scrape "$n" "$keys/gw$n.key")" = 200
  check "the key is not in the play's output" bash -c "! grep -qF \"\$(cat '$keys/gw$n.key')\" '$work/keys.log'"
done
check "gateway 1's certificate is kept, the one of its fingerprint" \
  test "$(openssl x509 -in "$keys/gw1.crt" -noout -fingerprint -sha256 2>/dev/null | sed 's/^.*=//')" = "${fingerprint[1]}"
check "gateway 2 (plain HTTP) has no certificate" test ! -e "$keys/gw2.crt"
check "the scrape jobs name every gateway" \
  bash -c "grep -q 'job_name: relaydash-gw1' '$keys/relaydash-scrape-configs.yml' && grep -q 'job_name: relaydash-gw2' '$keys/relaydash-scrape-configs.yml'"
if command -v promtool >/dev/null 2>&1; then
  check "promtool finds the scrape jobs a sound configuration" \
    quietly promtool check config "$keys/relaydash-scrape-configs.yml"
fi
cp "$keys/gw2.key" "$work/gw2-first.key"
keys_play keys-again.log
check "a second run changes nothing" bash -c "test '$played' = 0 && grep -q 'gw1 .*changed=0' '$work/keys-again.log' && grep -q 'gw2 .*changed=0' '$work/keys-again.log'"
check "gateway 2 keeps its key" cmp -s "$keys/gw2.key" "$work/gw2-first.key"
rm "$keys/gw2.key"
keys_play keys-lost.log
check "a lost key is made anew" counts keys-lost.log gw2 changed=2 failed=0
check "the new key reads /metrics" test "$(scrape 2 "$keys/gw2.key")" = 200
check "the lost one is revoked" test "$(scrape 2 "$work/gw2-first.key")" = 401

if command -v ansible-lint >/dev/null 2>&1; then
  echo "== ansible-lint"
  if (cd ansible && NO_COLOR=1 ansible-lint --offline) >"$work/lint.log" 2>&1; then
    pass "ansible-lint finds nothing"
  else
    fail "ansible-lint:"
    cat "$work/lint.log"
  fi
else
  echo "ansible-lint is missing (Debian: apt-get install -y ansible-lint): not run"
fi

if ((failures)); then
  for log in rolling.log again.log; do echo "--- $log"; cat "$work/$log"; done
  echo "$failures check(s) failed"
  exit 1
fi
echo "== the rolling run's output"
cat "$work/rolling.log"
echo "every check passed"
