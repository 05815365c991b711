#!/usr/bin/env python3
"""status.py [--requests N] [--binary PATH]

What a gateway/status answer costs, and where the time goes. Starts PATH (default
build/relaydash) on a free loopback port with the stand-ins for systemctl, journalctl and
timedatectl of tests/support/fake-systemd first on its PATH (their journal holds an hour of the
forwarder's statistics reports with its other lines between them), signs in, and then times:

  - gateway/status, N calls one after another on one kept-alive connection;
  - the three tools it runs, each started N times the same way (directly, no shell, the same
    arguments and environment), and their sum;
  - /health, for what the server costs without any child process;
  - the server's own CPU time per gateway/status (user + system, from /proc), which does not
    count its children.

Only ever connects to 127.0.0.1.
"""
import argparse
import http.client
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAKES = os.path.join(ROOT, "tests", "support", "fake-systemd")
SAMPLE = os.path.join(ROOT, "tests", "data", "forwarder",
                      "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json")
PROPERTIES = ("LoadState,ActiveState,SubState,Result,UnitFileState,ActiveEnterTimestamp,"
              "StateChangeTimestamp,NRestarts,MainPID")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def journal_line(index, realtime, message):
    return json.dumps({
        "__CURSOR": f"s=8d3f6b0e;i={index:x};b=5e1c0a5b;m={index * 1000:x};t={realtime:x};x={index:x}",
        "__REALTIME_TIMESTAMP": str(realtime), "__MONOTONIC_TIMESTAMP": str(index * 1000),
        "_BOOT_ID": "5e1c0a5b4f3e4c2a9a8b7c6d5e4f3a2b", "PRIORITY": "6",
        "SYSLOG_IDENTIFIER": "lora_pkt_fwd", "_SYSTEMD_UNIT": "packet-forwarder.service",
        "MESSAGE": message}, separators=(",", ":"))


def an_hour_of_reports():
    """120 reports 30 s apart, each after ten lines of packet traffic: what journalctl hands over
    for an hour of a moderately busy forwarder."""
    lines, index = [], 0
    start = int(time.time() * 1e6) - 3600 * 1_000_000
    for r in range(120):
        t = start + r * 30 * 1_000_000
        messages = [f"INFO: Received pkt from mote: 26011F{i:02X} (fcnt={r * 10 + i})" for i in range(10)]
        messages += [
            f"##### {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(t / 1e6))} GMT #####",
            "### [UPSTREAM] ###", "# RF packets received by concentrator: 10",
            "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%", "# RF packets forwarded: 10 (230 bytes)",
            "# PUSH_DATA datagrams sent: 11 (1720 bytes)", "# PUSH_DATA acknowledged: 100.00%",
            "### [DOWNSTREAM] ###", "# PULL_DATA sent: 3 (100.00% acknowledged)",
            "# PULL_RESP(onse) datagrams received: 0 (0 bytes)", "# RF packets sent to concentrator: 0 (0 bytes)",
            "# TX errors: 0", "### [GPS] ###", "# GPS sync is disabled", "##### END #####"]
        for m in messages:
            index += 1
            lines.append(journal_line(index, t + index, m))
    return lines


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--requests", type=int, default=200)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "relaydash"))
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="relaydash-status-bench-")
    server = None
    try:
        bin_dir = os.path.join(work, "bin")
        state = os.path.join(bin_dir, "state")
        os.makedirs(state)
        for tool in ("systemctl", "journalctl", "timedatectl"):
            os.symlink(os.path.join(FAKES, tool), os.path.join(bin_dir, tool))
        lines = an_hour_of_reports()
        with open(os.path.join(state, "journal-packet-forwarder.jsonl"), "w") as f:
            f.write("\n".join(lines) + "\n")
        config = os.path.join(work, "global_conf.json")
        shutil.copyfile(SAMPLE, config)
        # No system bus: relaydash would ask the real systemd over D-Bus rather than the stand-ins.
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ.get('PATH', '/usr/bin:/bin')}",
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/relaydash-tests")

        port = free_port()
        server = subprocess.Popen(
            [args.binary, "--listen", "127.0.0.1", "--port", str(port), "--dataPath",
             os.path.join(work, "db.sqlite3"), "--forwarderConfigPath", config],
            cwd=work, env=env, stdout=subprocess.DEVNULL)
        conn = None
        for _ in range(200):
            try:
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                conn.connect()
                break
            except OSError:
                time.sleep(0.05)

        def post(path, body):
            conn.request("POST", path, json.dumps(body), {"Content-Type": "application/json"})
            answer = conn.getresponse()
            data = answer.read()
            if answer.status != 200:
                sys.exit(f"{path}: {answer.status} {data[:200]!r}")
            return json.loads(data)

        token = post("/rpc/v1/login/password", {"username": "admin", "password": "quilm"})["output"]["auth"]
        status = post("/rpc/gateway/status", {"auth": token})["output"]
        reports = len(status["linkHealth"]["series"]) if status["linkHealth"] else 0

        def timed(call, n):
            times = []
            for _ in range(n):
                start = time.perf_counter()
                call()
                times.append((time.perf_counter() - start) * 1000)
            return times

        health = timed(lambda: (conn.request("GET", "/health"), conn.getresponse().read()), args.requests)
        cpu_before = cpu_seconds(server.pid)
        status_times = timed(lambda: post("/rpc/gateway/status", {"auth": token}), args.requests)
        server_cpu_ms = (cpu_seconds(server.pid) - cpu_before) * 1000 / args.requests

        tool_env = {"PATH": env["PATH"], "LANG": "C"}
        tools = {
            "systemctl show": ["systemctl", "show", f"--property={PROPERTIES}", "--",
                               "packet-forwarder", "ssh"],
            "timedatectl show": ["timedatectl", "show", "--property=NTPSynchronized"],
            "journalctl (an hour)": ["journalctl", "--unit=packet-forwarder", "--output=json", "--no-pager",
                                     "--lines=20000", "--output-fields=MESSAGE", "--since=-3600s", "--reverse"],
        }
        tool_times = {name: timed(lambda a=argv: subprocess.run(a, env=tool_env, stdin=subprocess.DEVNULL,
                                                                stdout=subprocess.DEVNULL, check=True), args.requests)
                      for name, argv in tools.items()}

        print(f"gateway/status with the fake tools: {args.requests} calls, one after another; the journal "
              f"holds {len(lines)} entries, {reports} reports in the hour")
        print()
        print("| what | median ms | p90 ms |")
        print("|---|--:|--:|")
        print(f"| gateway/status | {statistics.median(status_times):.2f} | {percentile(status_times, 90):.2f} |")
        total = 0.0
        for name, times in tool_times.items():
            total += statistics.median(times)
            print(f"| {name} alone | {statistics.median(times):.2f} | {percentile(times, 90):.2f} |")
        print(f"| the three tools, sum of medians | {total:.2f} | |")
        print(f"| /health | {statistics.median(health):.3f} | {percentile(health, 90):.3f} |")
        print()
        share = total / statistics.median(status_times) * 100
        print(f"The tools account for {share:.0f} % of a status answer's time; the server itself spent "
              f"{server_cpu_ms:.2f} ms of CPU per answer (its children not counted).")
    finally:
        if server:
            server.terminate()
            server.wait(5)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
