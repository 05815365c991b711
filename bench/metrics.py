#!/usr/bin/env python3
"""What a /metrics scrape costs: the server's CPU per scrape and the child processes it starts.

Run it from the source tree after a build: it starts build/relaydash (--binary), signs in and
makes a metrics key through metrics-keys/create, as an operator would:

  bench/metrics.py                  wrk at 1 and 4 connections for 10 s each, then a scrape a
                                    second for 30 s as a fast Prometheus would
  bench/metrics.py --duration 3     shorter runs, for a quick look
  bench/metrics.py --json           the figures as one JSON object instead of the table

The server runs on a free loopback port with the stand-ins for systemctl, journalctl and
timedatectl of tests/support/fake-systemd first on its PATH, their journal holding an hour of
the forwarder's statistics reports (bench/status.py's); a report is appended every
--report-every seconds meanwhile, as a forwarder writes them. The server is pinned to core 0 and
wrk to core 1 when taskset is there.

Measured for each load: scrapes answered, the server's own CPU (user + system of
/proc/PID/stat, and the exact figure of /proc/PID/schedstat) per scrape, its children's CPU
(cutime + cstime), and the children it started (the stand-ins' call log): those come from the
refresh in the background, at most one per status freshness (5 s), whatever the scrape rate.
Only ever connects to 127.0.0.1.
"""
import argparse
import http.client
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import status  # noqa: E402  (bench/status.py: the stand-in journal, the meters)

ROOT = status.ROOT
KEY = None  # made by the server once it runs


def pinned(core, argv):
    return (["taskset", "-c", str(core)] if shutil.which("taskset") else []) + argv


def scrape(conn):
    conn.request("GET", "/metrics", headers={"Authorization": f"Bearer {KEY}"})
    answer = conn.getresponse()
    body = answer.read()
    if answer.status != 200:
        sys.exit(f"/metrics answered {answer.status}: {body[:200]!r}")
    return body


def costs(before, after, scrapes, seconds):
    grown = after.since(before)
    return {
        "scrapes": scrapes,
        "seconds": seconds,
        "ownMicrosPerScrape": grown["own"] * 1e6 / scrapes,
        "ownExactMicrosPerScrape": grown["ownExact"] * 1e6 / scrapes,
        "childrenCpuSeconds": grown["children"],
        "children": grown["toolCalls"],
        "childrenPerScrape": grown["toolCalls"] / scrapes,
    }


def wrk_load(port, connections, duration, meter):
    before = meter.read()
    start = time.monotonic()
    out = subprocess.run(
        pinned(1, ["wrk", "-t1", f"-c{connections}", f"-d{max(1, round(duration))}s", "-H",
                   f"Authorization: Bearer {KEY}", f"http://127.0.0.1:{port}/metrics"]),
        check=True, capture_output=True, text=True).stdout
    seconds = time.monotonic() - start
    after = meter.read()
    if "Non-2xx" in out:
        sys.exit("wrk got answers other than 200:\n" + out)
    scrapes = int(re.search(r"(\d+) requests in", out).group(1))
    figures = costs(before, after, scrapes, seconds)
    figures["load"] = f"wrk, {connections} keep-alive connection{'s' if connections > 1 else ''}"
    figures["scrapesPerSecond"] = scrapes / seconds
    return figures


def paced_load(port, every, duration, meter, journal, report_every):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    before = meter.read()
    start = time.monotonic()
    next_report = start + report_every
    scrapes = 0
    while time.monotonic() - start < duration:
        scrape(conn)
        scrapes += 1
        if time.monotonic() >= next_report:
            journal.append()
            next_report += report_every
        time.sleep(max(0.0, start + scrapes * every - time.monotonic()))
    after = meter.read()
    conn.close()
    figures = costs(before, after, scrapes, time.monotonic() - start)
    figures["load"] = f"a scrape every {every:g} s"
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "relaydash"))
    parser.add_argument("--duration", type=float, default=10, help="seconds per wrk load (10)")
    parser.add_argument("--paced", type=float, default=30, help="seconds of one scrape a second (30)")
    parser.add_argument("--report-every", type=float, default=30, help="seconds between reports (30)")
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    args = parser.parse_args()
    if not os.path.exists(args.binary):
        sys.exit(f"{args.binary} is missing: build it first (scripts/build.sh)")
    if not shutil.which("wrk"):
        sys.exit("wrk is missing: apt-get install wrk")

    work = tempfile.mkdtemp(prefix="relaydash-metrics-bench-")
    server = None
    try:
        bin_dir = os.path.join(work, "bin")
        state = os.path.join(bin_dir, "state")
        os.makedirs(state)
        for tool in ("systemctl", "journalctl", "timedatectl"):
            os.symlink(os.path.join(status.FAKES, tool), os.path.join(bin_dir, tool))
        unit = "packet-forwarder"
        journal = status.StandInJournal(os.path.join(state, f"journal-{unit}.jsonl"))
        calls_file = os.path.join(state, "calls")
        config = os.path.join(work, "global_conf.json")
        shutil.copyfile(status.SAMPLE, config)
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ.get('PATH', '/usr/bin:/bin')}",
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/relaydash-bench",
                   RELAYDASH_JOURNAL_WATCH=journal.path)
        env.pop("RELAYDASH_STATUS_FRESH_MS", None)
        port = status.free_port()
        server = subprocess.Popen(
            pinned(0, [args.binary, "--listen", "127.0.0.1", "--port", str(port), "--dataPath",
                       os.path.join(work, "db.sqlite3"), "--forwarderConfigPath", config,
                       "--forwarderUnitServiceName", unit]),
            cwd=work, env=env, stdout=subprocess.DEVNULL)
        status.wait_for_port(port, server)
        global KEY
        client = status.Client(port)
        token = client.sign_in("quilm")
        KEY = client.post("/rpc/v1/metrics-keys/create", {"auth": token, "input": {"name": "bench"}})["output"]["key"]
        client.close()
        meter = status.Meter(server.pid, calls_file, False)

        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        before = meter.read()
        start = time.perf_counter()
        first = scrape(conn)
        first_ms = (time.perf_counter() - start) * 1000
        first_costs = meter.read().since(before)
        conn.close()
        if b"relaydash_forwarder_unit_state" not in first:
            sys.exit("the first scrape has no forwarder values:\n" + first.decode())

        loads = [wrk_load(port, c, args.duration, meter) for c in (1, 4)]
        loads.append(paced_load(port, 1.0, args.paced, meter, journal, args.report_every))
        figures = {
            "firstScrape": {"ms": first_ms, "ownMs": first_costs["own"] * 1000,
                            "children": first_costs["toolCalls"], "bytes": len(first)},
            "loads": loads,
        }
        if args.json:
            print(json.dumps(figures, indent=2))
            return
        print(f"first scrape after start: {first_ms:.1f} ms, {first_costs['toolCalls']} children "
              f"(the first refresh), {len(first)} bytes")
        print("| Load | scrapes | scrapes/s | CPU µs/scrape (exact) | children | children/scrape |")
        print("|---|--:|--:|--:|--:|--:|")
        for f in loads:
            rate = f"{f['scrapesPerSecond']:,.0f}" if "scrapesPerSecond" in f else "1"
            print(f"| {f['load']} | {f['scrapes']:,} | {rate} | {f['ownMicrosPerScrape']:.1f} "
                  f"({f['ownExactMicrosPerScrape']:.1f}) | {f['children']} | "
                  f"{f['childrenPerScrape']:.5f} |")
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
