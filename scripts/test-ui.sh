#!/usr/bin/env bash
# The web application's tests: its JavaScript logic with Node's test runner, then the browser
# tests in headless Chromium against build/relaydash, two files at a time (each has its own
# server, folder and browser; most of their time is spent waiting on watches).
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
logic=(tests/ui/*.test.mjs)
if ((${#logic[@]})); then node --test "${logic[@]}"; fi
browser=(tests/browser/*.test.mjs)
if ((${#browser[@]})); then node --test --test-concurrency=2 "${browser[@]}"; fi
