#!/usr/bin/env bash
# HTTPS as TLS scanners see it: build/relaydash (the g++ Release build, built when missing or out
# of date) on 127.0.0.1 with a scratch data folder and the certificate it makes itself, scanned by
# Debian's sslscan and testssl.sh. Fails when
#   sslscan     accepts SSLv2, SSLv3, TLS 1.0 or TLS 1.1, or not both TLS 1.2 and 1.3; accepts a
#               cipher that is not ECDHE with an AEAD (AES-GCM, ChaCha20-Poly1305; so no CBC, RC4,
#               3DES, NULL, EXPORT or anonymous one) or a group other than X25519, P-256 and
#               P-384; finds TLS compression, insecure renegotiation or heartbleed;
#   testssl.sh  reports a finding of severity MEDIUM or above, but for the certificate's trust
#               (the certificate is self-signed: no chain of trust, no CRL or OCSP) and the HTTP
#               answers' headers (the same as over plain HTTP), or did not run one of the known
#               vulnerability checks.
# testssl.sh's findings are written to build/tls-scan/testssl.json, sslscan's to
# build/tls-scan/sslscan.xml. Installs what it needs (scripts/setup.sh scan); exits 75 when apt
# cannot download it (a mirror out of sync), as setup.sh does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
began=$SECONDS

scripts/setup.sh scan
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++
program=$root/build/relaydash
results=$root/build/tls-scan
rm -rf "$results"
mkdir -p "$results"

source scripts/lib/checks.sh
pid=
stop_server() {
  if [[ -n $pid ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

echo "== relaydash on 127.0.0.1"
cp tests/data/forwarder/sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json \
  "$work/global_conf.json"
# An empty folder for the operator's certificates, so that this machine's own do not count.
mkdir "$work/installed"
# A random port that nothing answers on yet; another when binding fails all the same. The
# server's line about HTTPS comes once it listens.
port=
for _ in 1 2 3 4 5; do
  try=$((20000 + RANDOM % 40000))
  if curl -s --max-time 1 "http://127.0.0.1:$try/" >/dev/null 2>&1; then continue; fi
  (cd "$work" && exec env -u RELAYDASH_TLS -u RELAYDASH_TLS_REDIRECT \
    RELAYDASH_TLS_DIR="$work/installed" "$program" --listen 127.0.0.1 --port "$try" \
    --forwarderConfigPath "$work/global_conf.json" --dataPath "$work/relaydash.sqlite3") \
    >"$work/out" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    grep -q '^HTTPS' "$work/out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q '^HTTPS' "$work/out" && kill -0 "$pid" 2>/dev/null; then
    port=$try
    break
  fi
  stop_server
  grep -q "Address already in use" "$work/out" || break
done
if [[ -z $port ]] || ! grep -q '^HTTPS: certificate SHA-256 fingerprint ' "$work/out"; then
  cat "$work/out" >&2
  echo "test-tls-scan: relaydash does not answer HTTPS" >&2
  exit 1
fi
grep '^HTTPS' "$work/out"
echo "port $port"

echo "== sslscan"
sslscan --no-colour --xml="$results/sslscan.xml" "127.0.0.1:$port" | tee "$work/sslscan" |
  sed -n '/Protocols:/,/SSL Certificate:/p' | sed '$d'
xml=$results/sslscan.xml
[[ -s $xml ]] || fail "sslscan wrote no results"
# attribute NAME: the value of NAME="..." in each line read.
attribute() { sed -n "s/.* $1=\"\\([^\"]*\\)\".*/\\1/p"; }
for version in "ssl 2" "ssl 3" "tls 1.0" "tls 1.1"; do
  read -r type number <<<"$version"
  grep -q "<protocol type=\"$type\" version=\"$number\" enabled=\"0\"" "$xml" ||
    fail "sslscan: $version is not refused"
done
for version in 1.2 1.3; do
  grep -q "<protocol type=\"tls\" version=\"$version\" enabled=\"1\"" "$xml" ||
    fail "sslscan: TLS $version is not offered"
done
# ECDHE with AES-GCM or ChaCha20-Poly1305; TLS 1.3's suites all use an (EC)DHE exchange, whose
# groups are checked below.
aead_tls12='^ECDHE-(ECDSA|RSA)-(AES(128|256)-GCM-SHA(256|384)|CHACHA20-POLY1305)$'
aead_tls13='^TLS_(AES_(128_GCM_SHA256|256_GCM_SHA384)|CHACHA20_POLY1305_SHA256)$'
ciphers=0
while IFS= read -r line; do
  ciphers=$((ciphers + 1))
  version=$(attribute sslversion <<<"$line")
  cipher=$(attribute cipher <<<"$line")
  strength=$(attribute strength <<<"$line")
  case $version in
  TLSv1.2) [[ $cipher =~ $aead_tls12 ]] || fail "sslscan: $version accepts $cipher" ;;
  TLSv1.3) [[ $cipher =~ $aead_tls13 ]] || fail "sslscan: $version accepts $cipher" ;;
  *) fail "sslscan: $version accepts $cipher" ;;
  esac
  [[ $strength == strong || $strength == acceptable ]] ||
    fail "sslscan: $cipher ($version) is rated $strength"
done < <(grep '<cipher ' "$xml")
((ciphers > 0)) || fail "sslscan found no cipher"
while IFS= read -r group; do
  case $group in
  x25519 | "secp256r1 (NIST P-256)" | "secp384r1 (NIST P-384)") ;;
  *) fail "sslscan: the group $group is accepted" ;;
  esac
done < <(grep '<group ' "$xml" | attribute name)
if grep -q '<heartbleed .*vulnerable="1"' "$xml"; then fail "sslscan: heartbleed"; fi
if grep -q '<compression supported="1"' "$xml"; then fail "sslscan: TLS compression"; fi
if grep -q '<renegotiation supported="1" secure="0"' "$xml"; then
  fail "sslscan: insecure renegotiation"
fi
# Debian's sslscan is built without zlib and cannot offer compression: testssl.sh's CRIME check
# below sends its own handshake that does.
grep -q '<compression ' "$xml" || echo "sslscan cannot test compression here; testssl.sh does"
echo "sslscan: $ciphers cipher(s) accepted, $failures finding(s)"

echo "== testssl.sh (protocols, ciphers, forward secrecy, server defaults, headers, vulnerabilities)"
# The page itself, not the redirect to it at /, so that its headers are the ones judged. No DNS:
# only the loopback address is scanned. A finding is a line of the JSON file; testssl.sh's exit
# status counts other things.
json=$results/testssl.json
scanned=$SECONDS
testssl --quiet --color 0 --warnings off --nodns none --connect-timeout 10 --openssl-timeout 10 \
  -p -s -f -P -S -h -U --jsonfile "$json" "https://127.0.0.1:$port/ui" >"$results/testssl.txt" 2>&1 ||
  true
echo "testssl.sh ran for $((SECONDS - scanned)) s"
if [[ ! -s $json ]]; then
  cat "$results/testssl.txt" >&2
  fail "testssl.sh wrote no findings"
else
  # One line a finding: SEVERITY ID FINDING, and a verdict line per finding that fails.
  # shellcheck disable=SC2016
  verdicts=$(node -e '
    const findings = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
    const failing = new Set(["MEDIUM", "HIGH", "CRITICAL", "FATAL"]);
    // A self-signed certificate has no chain of trust, and no CRL or OCSP to revoke it by.
    const trust = (f) =>
      (f.id === "cert_chain_of_trust" && /self signed/.test(f.finding)) ||
      (f.id === "cert_revocation" && /Neither CRL nor OCSP URI provided/.test(f.finding));
    // The HTTP answers are the same over HTTPS as over plain HTTP, byte for byte, so they carry
    // no header of HTTPS alone (HSTS) nor any new one: the page sets its Content-Security-Policy
    // in a meta element and refuses to run in a frame by itself. Not a finding about TLS.
    const answers = (f) => f.id === "security_headers" || f.id === "HSTS";
    // The checks a scan must have run: a finding each.
    const expected = ["SSLv2", "SSLv3", "TLS1", "TLS1_1", "cipherlist_NULL", "cipherlist_aNULL",
      "cipherlist_EXPORT", "cipherlist_LOW", "cipherlist_3DES_IDEA", "cipherlist_AVERAGE", "PFS",
      "heartbleed", "CCS", "ticketbleed", "ROBOT", "secure_renego", "secure_client_renego",
      "CRIME_TLS", "BREACH", "POODLE_SSL", "fallback_SCSV", "SWEET32", "FREAK", "DROWN",
      "LOGJAM", "BEAST", "LUCKY13", "RC4"];
    const seen = new Set(findings.map((f) => f.id));
    for (const f of findings) {
      if (!["OK", "INFO"].includes(f.severity) || trust(f)) {
        const why = trust(f) ? " (the certificate is self-signed)" : answers(f) ? " (the HTTP answers stay as they are)" : "";
        console.log(`${f.severity} ${f.id}: ${f.finding}${why}`);
      }
      if (failing.has(f.severity) && !trust(f) && !answers(f)) console.log(`FAIL ${f.id} (${f.severity}): ${f.finding}`);
    }
    for (const id of expected) if (!seen.has(id)) console.log(`FAIL ${id} was not checked`);
  ' "$json")
  grep -v '^FAIL ' <<<"$verdicts" || true
  while IFS= read -r verdict; do
    fail "testssl.sh: ${verdict#FAIL }"
  done < <(grep '^FAIL ' <<<"$verdicts" || true)
  echo "testssl.sh: $(node -e 'console.log(JSON.parse(require("fs").readFileSync(process.argv[1])).length)' "$json") findings in $json"
fi

stop_server
end_checks test-tls-scan "sslscan and testssl.sh found nothing to fault in $((SECONDS - began)) s"
