#!/usr/bin/env bash
# The web application's tests: its JavaScript logic with Node's test runner, then the browser
# tests in headless Chromium against build/relaydash.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
logic=(tests/ui/*.test.mjs)
if ((${#logic[@]})); then node --test "${logic[@]}"; fi
browser=(tests/browser/*.test.mjs)
if ((${#browser[@]})); then node --test --test-concurrency=1 "${browser[@]}"; fi
