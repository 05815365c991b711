#!/usr/bin/env python3
"""What a Status tab costs: gateway/status measured call by call and viewer by viewer.

Run it from the source tree after a build (scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
-DCMAKE_CXX_COMPILER=g++):

  bench/status.py                      the stand-in tools, 1 and 5 viewers for a minute each
  bench/status.py --duration 10        shorter viewer runs, for a quick look
  bench/status.py --viewers 0,1,5      an idle minute too, for what the server costs by itself
  bench/status.py --json               the figures as one JSON object instead of the table

By default it starts PATH (--binary, default build/relaydash) on a free loopback port with the
stand-ins for systemctl, journalctl and timedatectl of tests/support/fake-systemd first on its
PATH; their journal holds an hour of the forwarder's statistics reports with its other lines
between them. The server gets DBUS_SYSTEM_BUS_ADDRESS pointing nowhere (so it uses the tools) and
RELAYDASH_JOURNAL_WATCH naming the stand-in journal's file (the file it may watch for changes).

With --no-start it measures a server already running instead, through the real tools of this
machine: --url (loopback only), --password of admin, --pid of the server's process, --unit of the
forwarder. bench/status-systemd.sh runs it so inside a container under a real systemd.

Measured:
  - the first call of a session: sign in, then one gateway/status (wall time, the server's CPU,
    its children's CPU and how many it started); once as the server's very first, then as the
    first of --sessions later sessions;
  - --requests calls one after another on one kept-alive connection, nothing changed between
    them: the server's own CPU per call (user + system of /proc/PID/stat, and the exact figure
    of /proc/PID/schedstat), its children's (cutime + cstime, reaped children only) and the
    children started;
  - for comparison, the three tools started directly, and /health;
  - viewers: 1 and 5 clients (--viewers), each with its own session and connection, polling
    gateway/status every --period seconds for --duration seconds of wall-clock time, spread
    evenly over the period; with the stand-ins a new statistics report is appended to the
    journal every --report-every seconds meanwhile, as a forwarder writes them. The server's and
    its children's CPU as a percentage of one core, and the children started.

Children started: with the stand-ins, the calls they log (state/calls: one line per tool the
server ran); with --no-start, the processes made in this PID namespace (the growth of
/proc/sys/kernel/ns_last_pid), which in a container that runs only the server, its forwarder
and this script counts the server's children and theirs. The machine-wide count (the processes
line of /proc/stat) is given too; on a shared machine it includes everyone else's. With
--no-start the CPU of everything in this PID namespace but this script is summed as well: in a
container, what systemd, D-Bus, journald and timedated spend answering the tools besides the
server and its children.

Only ever connects to 127.0.0.1. `status.py --print-reports` is the other half of a bench
forwarder: it prints an hour of reports at once, then one every --report-every seconds.
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
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAKES = os.path.join(ROOT, "tests", "support", "fake-systemd")
SAMPLE = os.path.join(ROOT, "tests", "data", "forwarder",
                      "sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0.global_conf.json")
PROPERTIES = ("LoadState,ActiveState,SubState,Result,UnitFileState,ActiveEnterTimestamp,"
              "StateChangeTimestamp,NRestarts,MainPID")
CLOCK_TICK = os.sysconf("SC_CLK_TCK")


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


def report_messages(number, micros):
    """One statistics report, after ten lines of packet traffic, as the forwarder prints it."""
    messages = [f"INFO: Received pkt from mote: 26011F{i:02X} (fcnt={number * 10 + i})" for i in range(10)]
    return messages + [
        f"##### {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(micros / 1e6))} GMT #####",
        "### [UPSTREAM] ###", "# RF packets received by concentrator: 10",
        "# CRC_OK: 100.00%, CRC_FAIL: 0.00%, NO_CRC: 0.00%", "# RF packets forwarded: 10 (230 bytes)",
        "# PUSH_DATA datagrams sent: 11 (1720 bytes)", "# PUSH_DATA acknowledged: 100.00%",
        "### [DOWNSTREAM] ###", "# PULL_DATA sent: 3 (100.00% acknowledged)",
        "# PULL_RESP(onse) datagrams received: 0 (0 bytes)", "# RF packets sent to concentrator: 0 (0 bytes)",
        "# TX errors: 0", "### [GPS] ###", "# GPS sync is disabled", "##### END #####"]


class StandInJournal:
    """The stand-in journalctl's file for the forwarder's unit: an hour of reports 30 s apart
    at first (what journalctl hands over for an hour of a moderately busy forwarder), and one
    more report at each append()."""

    def __init__(self, path):
        self.path = path
        self.index = 0
        self.reports = 0
        start = int(time.time() * 1e6) - 3600 * 1_000_000
        lines = []
        for r in range(120):
            lines += self._report(start + r * 30 * 1_000_000)
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.entries = len(lines)

    def _report(self, micros):
        lines = []
        for m in report_messages(self.reports, micros):
            self.index += 1
            lines.append(journal_line(self.index, micros + self.index, m))
        self.reports += 1
        return lines

    def append(self):
        lines = self._report(int(time.time() * 1e6))
        # One write, as journald adds a batch: a reader never sees half a line.
        fd = os.open(self.path, os.O_WRONLY | os.O_APPEND)
        try:
            os.write(fd, ("\n".join(lines) + "\n").encode())
        finally:
            os.close(fd)
        self.entries += len(lines)


def print_reports(every, limit):
    """A bench forwarder's output: an hour of reports at once, then one every `every` seconds
    (at most `limit` of them); stdout goes to the journal under the forwarder's unit."""
    start = int(time.time() * 1e6) - 3600 * 1_000_000
    number = 0
    for r in range(120):
        print("\n".join(report_messages(number, start + r * 30 * 1_000_000)), flush=True)
        number += 1
    for _ in range(limit):
        time.sleep(every)
        print("\n".join(report_messages(number, int(time.time() * 1e6))), flush=True)
        number += 1


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


class Counters:
    """What the server and its children have cost so far, read at one moment."""

    def __init__(self, pid, calls_file, whole_namespace=False):
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        # Fields 14-17 of proc(5), counted from the state (field 3) here.
        self.own = (int(fields[11]) + int(fields[12])) / CLOCK_TICK
        self.children = (int(fields[13]) + int(fields[14])) / CLOCK_TICK
        self.own_exact = 0.0
        task_dir = f"/proc/{pid}/task"
        for task in os.listdir(task_dir):
            try:
                with open(f"{task_dir}/{task}/schedstat") as f:
                    self.own_exact += int(f.read().split()[0]) / 1e9
            except (FileNotFoundError, ProcessLookupError):
                pass
        self.tool_calls = None
        if calls_file:
            try:
                with open(calls_file) as f:
                    self.tool_calls = sum(1 for _ in f)
            except FileNotFoundError:
                self.tool_calls = 0
        with open("/proc/sys/kernel/ns_last_pid") as f:
            self.last_pid = int(f.read())
        with open("/proc/sys/kernel/pid_max") as f:
            self.pid_max = int(f.read())
        with open("/proc/stat") as f:
            self.machine_processes = next(int(line.split()[1]) for line in f if line.startswith("processes "))
        # Everything in this PID namespace but this script: in a container, its systemd, D-Bus,
        # journald and the services they start for a tool (timedated), besides the server and
        # its children. A process that ended was reaped by one still there (the server, or
        # systemd as the container's init), whose children's time holds it from then on: the
        # sum only grows by what was spent. On a shared machine it is everyone's, so not read.
        self.everything = None
        if whole_namespace:
            ticks = 0
            for entry in os.listdir("/proc"):
                if not entry.isdigit() or int(entry) == os.getpid():
                    continue
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        fields = f.read().rsplit(")", 1)[1].split()
                except (FileNotFoundError, ProcessLookupError):
                    continue
                ticks += sum(int(v) for v in fields[11:15])
            self.everything = ticks / CLOCK_TICK

    def since(self, before):
        """The growth since `before`: CPU in seconds, processes in counts."""
        made = self.last_pid - before.last_pid
        if made < 0:  # the PIDs wrapped around
            made += self.pid_max - 300
        return {
            "own": self.own - before.own,
            "ownExact": self.own_exact - before.own_exact,
            "children": self.children - before.children,
            "toolCalls": None if self.tool_calls is None else self.tool_calls - before.tool_calls,
            "processesInNamespace": made,
            "processesOnMachine": self.machine_processes - before.machine_processes,
            "everything": None if self.everything is None else self.everything - before.everything,
        }


class Meter:
    """Reads the Counters of one server."""

    def __init__(self, pid, calls_file, whole_namespace):
        self.pid, self.calls_file, self.whole_namespace = pid, calls_file, whole_namespace

    def read(self):
        return Counters(self.pid, self.calls_file, self.whole_namespace)


class Client:
    """One kept-alive connection to the server on the loopback, as one browser tab holds."""

    def __init__(self, port):
        self.port = port
        self.conn = None
        self.reconnects = 0

    def _connect(self):
        self.conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        self.conn.connect()

    def request(self, method, path, body=None):
        # A connection the server closed while it was idle is opened again once, as a browser does.
        for attempt in range(2):
            if self.conn is None:
                self._connect()
            try:
                headers = {"Content-Type": "application/json"} if body is not None else {}
                self.conn.request(method, path, None if body is None else json.dumps(body), headers)
                answer = self.conn.getresponse()
                return answer.status, answer.read()
            except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError):
                self.conn.close()
                self.conn = None
                if attempt:
                    raise
                self.reconnects += 1
        raise AssertionError("unreachable")

    def post(self, path, body):
        status, data = self.request("POST", path, body)
        if status != 200:
            sys.exit(f"{path}: {status} {data[:200]!r}")
        return json.loads(data)

    def sign_in(self, password):
        return self.post("/rpc/v1/login/password", {"username": "admin", "password": password})["output"]["auth"]

    def status(self, token):
        return self.post("/rpc/gateway/status", {"auth": token})["output"]

    def close(self):
        if self.conn:
            self.conn.close()


def wait_for_port(port, server):
    for _ in range(400):
        if server.poll() is not None:
            sys.exit(f"the server ended with status {server.returncode} before it listened")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"nothing listens on 127.0.0.1:{port}")


def timed(call, n):
    times = []
    for _ in range(n):
        start = time.perf_counter()
        call()
        times.append((time.perf_counter() - start) * 1000)
    return times


def first_call(client, password, meter):
    """Sign in (not measured), then one gateway/status: its wall time and costs."""
    token = client.sign_in(password)
    before = meter.read()
    start = time.perf_counter()
    status = client.status(token)
    wall = (time.perf_counter() - start) * 1000
    cost = meter.read().since(before)
    cost["wallMs"] = wall
    return cost, status


def viewers_minute(port, password, meter, viewers, args, journal):
    """`viewers` clients polling together for args.duration seconds, each every args.period
    seconds, their turns spread evenly over the period; a report appended to the stand-in
    journal every args.report_every seconds."""
    clients = [Client(port) for _ in range(viewers)]
    tokens = [c.sign_in(password) for c in clients]
    for c, t in zip(clients, tokens):  # the page's first load, before the minute
        c.status(t)
    events = []
    for i in range(viewers):
        at = i * args.period / viewers
        while at < args.duration:
            events.append((at, "poll", i))
            at += args.period
    if journal:
        at = args.report_every
        while at < args.duration:
            events.append((at, "report", None))
            at += args.report_every
    events.sort()
    polls, slowest = 0, 0.0
    before = meter.read()
    began = time.monotonic()
    for at, kind, i in events:
        delay = began + at - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        if kind == "report":
            journal.append()
            continue
        start = time.perf_counter()
        clients[i].status(tokens[i])
        slowest = max(slowest, (time.perf_counter() - start) * 1000)
        polls += 1
    delay = began + args.duration - time.monotonic()
    if delay > 0:
        time.sleep(delay)
    elapsed = time.monotonic() - began
    cost = meter.read().since(before)
    for c in clients:
        c.close()
    cost.update({"viewers": viewers, "seconds": elapsed, "polls": polls, "slowestMs": slowest,
                 "reconnects": sum(c.reconnects for c in clients),
                 "ownPercent": cost["own"] / elapsed * 100, "ownExactPercent": cost["ownExact"] / elapsed * 100,
                 "childrenPercent": cost["children"] / elapsed * 100,
                 "everythingPercent": None if cost["everything"] is None else cost["everything"] / elapsed * 100})
    return cost


def loopback_port(url):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "http" or parts.hostname != "127.0.0.1":
        sys.exit(f"--url: only http://127.0.0.1:PORT is measured, not {url}")
    return parts.port or 80


def started(cost):
    """The children a cost counts: the stand-ins' logged calls, or the processes made here."""
    return cost["toolCalls"] if cost["toolCalls"] is not None else cost["processesInNamespace"]


def print_table(figures, args):
    first, later, rep = figures["firstCall"], figures["laterSessions"], figures["repeated"]
    made = "tool calls" if figures["standIns"] else "processes made"
    # Under a real systemd the tools also make systemd, D-Bus and journald work: in a container
    # that is the whole cgroup's CPU. On a shared machine it would be everyone's, so not shown.
    whole = not figures["standIns"] and rep["everything"] is not None

    def costs(c, calls=1):
        row = (f"{c['own'] * 1000 / calls:.3f} / {c['ownExact'] * 1000 / calls:.3f} | "
               f"{c['children'] * 1000 / calls:.3f} | {started(c) / calls:.2f} |")
        return row + (f" {c['everything'] * 1000 / calls:.3f} |" if whole else "")

    print(f"gateway/status, {'stand-in' if figures['standIns'] else 'real'} systemctl, journalctl and "
          f"timedatectl; the journal holds {figures['journalReports']} reports of the last hour")
    print()
    print(f"| what | wall ms | relaydash CPU ms (stat / exact) | children CPU ms | {made} |"
          + (" the container's CPU ms |" if whole else ""))
    print("|---|--:|--:|--:|--:|" + ("--:|" if whole else ""))
    # A server this script did not start may have answered others before.
    opening = "first call after start" if figures["standIns"] else "first call of this run"
    print(f"| {opening} | {first['wallMs']:.1f} | {costs(first)}")
    if later:
        median = {k: statistics.median(c[k] for c in later)
                  for k in ("wallMs", "own", "ownExact", "children", "toolCalls", "processesInNamespace",
                            "everything") if later[0][k] is not None}
        median.setdefault("toolCalls", None)
        median.setdefault("everything", None)
        print(f"| first call of a new session, median of {len(later)} | {median['wallMs']:.1f} | {costs(median)}")
    n = rep["calls"]
    print(f"| repeated call, per call over {n} (median wall; p90 {rep['p90Ms']:.2f}) | {rep['medianMs']:.2f} | "
          f"{costs(rep, n)}")
    print()
    if figures["tools"]:
        print("| started directly | median ms | p90 ms |")
        print("|---|--:|--:|")
        for name, t in figures["tools"].items():
            print(f"| {name} | {t['medianMs']:.2f} | {t['p90Ms']:.2f} |")
        print(f"| /health | {figures['health']['medianMs']:.3f} | {figures['health']['p90Ms']:.3f} |")
        print()
    if figures["viewers"]:
        print(f"| viewers polling every {args.period:g} s | seconds | polls | relaydash % of a core "
              f"(stat / exact) | children % of a core | {made} | slowest poll ms |"
              + (" the container, % of a core |" if whole else ""))
        print("|---|--:|--:|--:|--:|--:|--:|" + ("--:|" if whole else ""))
        for v in figures["viewers"]:
            print(f"| {v['viewers']} | {v['seconds']:.1f} | {v['polls']} | {v['ownPercent']:.3f} / "
                  f"{v['ownExactPercent']:.3f} | {v['childrenPercent']:.3f} | {started(v)} | {v['slowestMs']:.1f} |"
                  + (f" {v['everythingPercent']:.3f} |" if whole else ""))
        print()
    print(f"Children's CPU counts only children the server has reaped; one tick is {1000 / CLOCK_TICK:.0f} ms. "
          f"Processes made on the whole machine meanwhile: {rep['processesOnMachine']} during "
          f"the repeated calls" + "".join(f", {v['processesOnMachine']} with {v['viewers']} viewer(s)"
                                          for v in figures["viewers"]) + ".")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--requests", type=int, default=200, help="repeated calls (200)")
    parser.add_argument("--sessions", type=int, default=5, help="later sessions' first calls (5)")
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "relaydash"))
    parser.add_argument("--viewers", default="1,5", help="viewer counts, one minute each (1,5)")
    parser.add_argument("--duration", type=float, default=60, help="seconds per viewer count (60)")
    parser.add_argument("--period", type=float, default=5, help="each viewer's poll period (5)")
    parser.add_argument("--report-every", type=float, default=30, help="seconds between reports (30)")
    parser.add_argument("--no-tools", action="store_true", help="do not time the tools started directly")
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--no-start", action="store_true", help="measure a running server")
    parser.add_argument("--url", default="http://127.0.0.1:9992", help="with --no-start")
    parser.add_argument("--password", help="with --no-start: admin's password")
    parser.add_argument("--pid", type=int, help="with --no-start: the server's process")
    parser.add_argument("--unit", default="packet-forwarder", help="with --no-start: the forwarder's unit")
    parser.add_argument("--print-reports", action="store_true", help="be a bench forwarder's output")
    parser.add_argument("--reports-limit", type=int, default=100_000, help="with --print-reports")
    args = parser.parse_args()
    if args.print_reports:
        print_reports(args.report_every, args.reports_limit)
        return
    viewer_counts = [int(v) for v in args.viewers.split(",") if v.strip()]
    if args.no_start and (not args.password or not args.pid):
        sys.exit("--no-start needs --password and --pid")

    work = tempfile.mkdtemp(prefix="relaydash-status-bench-")
    server = None
    try:
        journal, calls_file = None, None
        if args.no_start:
            port, pid, password, unit = loopback_port(args.url), args.pid, args.password, args.unit
            tool_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C"}
        else:
            bin_dir = os.path.join(work, "bin")
            state = os.path.join(bin_dir, "state")
            os.makedirs(state)
            for tool in ("systemctl", "journalctl", "timedatectl"):
                os.symlink(os.path.join(FAKES, tool), os.path.join(bin_dir, tool))
            unit = "packet-forwarder"
            journal = StandInJournal(os.path.join(state, f"journal-{unit}.jsonl"))
            calls_file = os.path.join(state, "calls")
            config = os.path.join(work, "global_conf.json")
            shutil.copyfile(SAMPLE, config)
            env = dict(os.environ, PATH=f"{bin_dir}:{os.environ.get('PATH', '/usr/bin:/bin')}",
                       DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/relaydash-bench",
                       RELAYDASH_JOURNAL_WATCH=journal.path)
            tool_env = {"PATH": env["PATH"], "LANG": "C"}
            port, password = free_port(), "quilm"
            server = subprocess.Popen(
                [args.binary, "--listen", "127.0.0.1", "--port", str(port), "--dataPath",
                 os.path.join(work, "db.sqlite3"), "--forwarderConfigPath", config,
                 "--forwarderUnitServiceName", unit],
                cwd=work, env=env, stdout=subprocess.DEVNULL)
            pid = server.pid
            wait_for_port(port, server)

        meter = Meter(pid, calls_file, args.no_start)
        client = Client(port)
        first, status = first_call(client, password, meter)
        reports = len(status["linkHealth"]["series"]) if status["linkHealth"] else 0
        later = [first_call(Client(port), password, meter)[0] for _ in range(args.sessions)]

        token = client.sign_in(password)
        client.status(token)
        before = meter.read()
        status_times = timed(lambda: client.status(token), args.requests)
        repeated = meter.read().since(before)
        repeated.update({"calls": args.requests, "medianMs": statistics.median(status_times),
                         "p90Ms": percentile(status_times, 90)})

        health = timed(lambda: client.request("GET", "/health"), args.requests)
        tools = {}
        if not args.no_tools:
            argvs = {
                "systemctl show": ["systemctl", "show", f"--property={PROPERTIES}", "--", unit, "ssh"],
                "timedatectl show": ["timedatectl", "show", "--property=NTPSynchronized"],
                "journalctl (an hour)": ["journalctl", f"--unit={unit}", "--output=json", "--no-pager",
                                         "--lines=20000", "--output-fields=MESSAGE", "--since=-3600s",
                                         "--reverse"],
            }
            for name, argv in argvs.items():
                times = timed(lambda a=argv: subprocess.run(a, env=tool_env, stdin=subprocess.DEVNULL,
                                                            stdout=subprocess.DEVNULL, check=True),
                              args.requests)
                tools[name] = {"medianMs": statistics.median(times), "p90Ms": percentile(times, 90)}
        client.close()

        viewers = [viewers_minute(port, password, meter, n, args, journal) for n in viewer_counts]
        figures = {
            "standIns": not args.no_start, "journalReports": reports, "firstCall": first,
            "laterSessions": later, "repeated": repeated, "tools": tools,
            "health": {"medianMs": statistics.median(health), "p90Ms": percentile(health, 90)},
            "viewers": viewers, "clockTicksPerSecond": CLOCK_TICK,
        }
        if args.json:
            print(json.dumps(figures, indent=1))
        else:
            print_table(figures, args)
    finally:
        if server:
            server.terminate()
            server.wait(5)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
