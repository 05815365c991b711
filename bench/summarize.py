#!/usr/bin/env python3
"""summarize.py RESULTS.tsv FACTS.tsv

Prints the benchmark tables (Markdown) from what run.sh records: per load, the median over the
rounds of requests per second, p99 latency and server CPU time per request of each server, and
the ratios relaydash/nginx and relaydash/minimal (the minimal epoll server, the floor for one
thread); then the CPU time split into user and system time, resident memory, and each goal's
verdict.

A ratio is the median of the rounds' own ratios: within a round the servers run back to
back, so a machine that is slower in one round than in another moves both alike.
"""
import statistics
import sys

# Load name → description, in the order of the tables.
LOADS = [
    ("health-c1", "/health, 1 keep-alive connection"),
    ("health-c64", "/health, 64 keep-alive connections"),
    ("health-c512", "/health, 512 keep-alive connections"),
    ("health-close", "/health, new connection per request (64 clients)"),
    ("health-pipe16", "/health, 16 pipelined per connection (64 conns)"),
    ("ui-c64", "largest UI file, 64 keep-alive connections"),
    ("login-c64", "login, 64 keep-alive connections"),
]
SERVERS = ("relaydash", "nginx", "minimal")
METRICS = ("rps", "p99_ms", "cpu_us_per_req", "user_us_per_req")


def read_results(path):
    """{(load, server): {round: row}}"""
    runs = {}
    with open(path) as f:
        header = f.readline().split()
        for line in f:
            row = dict(zip(header, line.split()))
            runs.setdefault((row["load"], row["server"]), {})[row["round"]] = row
    return runs


def read_facts(path):
    facts = {}
    with open(path) as f:
        for line in f:
            key, value = line.split()
            facts[key] = int(value)
    return facts


class Load:
    """The medians of one load on each server, and the paired ratios."""

    def __init__(self, runs, load):
        self.rows = {s: runs.get((load, s), {}) for s in SERVERS}
        self.median = {
            s: {m: statistics.median(float(r[m]) for r in rows.values()) for m in METRICS}
            for s, rows in self.rows.items() if rows
        }
        if rows := self.rows["relaydash"]:
            self.connections = int(next(iter(rows.values()))["connections"])

    def has(self, server):
        return server in self.median

    def ratio(self, metric, other="nginx"):
        a, b = self.rows["relaydash"], self.rows[other]
        pairs = [float(a[k][metric]) / float(b[k][metric])
                 for k in a if k in b and float(b[k][metric]) > 0]
        return statistics.median(pairs) if pairs else None

    def bad_answers(self, server):
        return sum(int(r["errors"]) + int(r["non2xx"]) for r in self.rows[server].values())


def fmt_rate(x):
    return f"{x:,.0f}"


def fmt_ms(x):
    return f"{x * 1000:.0f} µs" if x < 1 else f"{x:.2f} ms"


def fmt_us(x):
    return f"{x:.2f}"


def fmt_ratio(x):
    return "–" if x is None else f"{x:.2f}"


def main():
    runs = read_results(sys.argv[1])
    facts = read_facts(sys.argv[2])
    loads = {name: Load(runs, name) for name, _ in LOADS}
    notes = []

    print("| Load | req/s relaydash | req/s nginx | req/s minimal | p99 relaydash | p99 nginx "
          "| CPU µs/req relaydash | nginx | minimal | × nginx | × minimal |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for name, title in LOADS:
        load = loads[name]
        if not load.has("relaydash"):
            continue
        r = load.median["relaydash"]
        n = load.median.get("nginx")
        m = load.median.get("minimal")
        rates = [fmt_rate(x["rps"]) if x else "–" for x in (r, n, m)]
        cpus = [fmt_us(x["cpu_us_per_req"]) if x else "–" for x in (r, n, m)]
        cpus += [fmt_ratio(load.ratio("cpu_us_per_req")),
                 fmt_ratio(load.ratio("cpu_us_per_req", "minimal"))]
        if name == "health-pipe16":
            # wrk times a pipelined batch as one request, then "corrects" its histogram for
            # the 16 answers it counts: its percentiles mean nothing here.
            p99s = ["–", "–"]
            batches = [f"{s} {load.connections * 16 / load.median[s]['rps'] * 1000:.1f} ms"
                       for s in SERVERS if load.has(s)]
            notes.append("pipelined: wrk's latency percentiles do not hold for pipelined"
                         " batches (shown as –); by Little's law a batch of 16 takes on"
                         " average " + ", ".join(batches) + ".")
        else:
            p99s = [fmt_ms(r["p99_ms"]), fmt_ms(n["p99_ms"]) if n else "–"]
        print(f"| {title} | " + " | ".join(rates + p99s + cpus) + " |")
        for server in SERVERS:
            if load.has(server) and (bad := load.bad_answers(server)):
                line = f"{title}, {server}: wrk counted {bad:,} socket errors or non-2xx answers"
                if name == "health-close" and facts.get("close_echoed") == 0:
                    line += (" (the answers to a request with \"Connection: close\" do not say"
                             " \"Connection: close\", so wrk sends its next request on the"
                             " connection being closed, gets a read error and reconnects)")
                notes.append(line + ".")

    print()
    print("| CPU µs/req, user + system | relaydash | nginx | minimal |")
    print("|---|--:|--:|--:|")
    for name, title in LOADS:
        load = loads[name]
        split = [f"{m['user_us_per_req']:.2f} + {m['cpu_us_per_req'] - m['user_us_per_req']:.2f}"
                 if (m := load.median.get(s)) else "–" for s in SERVERS]
        if load.has("relaydash"):
            print(f"| {title} | " + " | ".join(split) + " |")

    idle = facts.get("rss_idle_kib")
    held = facts.get("rss_1000_kib")
    print()
    print("| relaydash resident memory (VmRSS) | KiB |")
    print("|---|--:|")
    if idle is not None:
        print(f"| idle, just started | {idle:,} |")
    if held is not None and idle is not None:
        print(f"| with 1000 idle connections open | {held:,} (+{held - idle:,}) |")
    if (released := facts.get("rss_released_kib")) is not None:
        print(f"| idle again, after the 1000 connections closed | {released:,} |")
    if (checked := facts.get("rss_checked_kib")) is not None:
        print(f"| idle, after one request of each kind (one sign-in) | {checked:,} |")
    if (after := facts.get("rss_after_kib")) is not None:
        print(f"| idle again, after all the runs above | {after:,} |")
    for key, name in (("rss_nginx_kib", "nginx's worker"), ("rss_minimal_kib", "the minimal server")):
        if (other := facts.get(key)) is not None:
            print(f"| for comparison, {name} at the same moment | {other:,} |")

    print()
    print("Goals (ratios: medians of the rounds' ratios):")

    def goal(text, value, met):
        if value is not None:
            print(f"- {text}: " + ("met" if met(value) else "MISSED"))

    for name in ("health-c1", "health-c64", "health-c512"):
        x = loads[name].ratio("cpu_us_per_req", "minimal")
        goal(f"CPU per request, {name}: {fmt_ratio(x)}× the minimal server (≤ 1.03)", x,
             lambda v: v <= 1.03)
    x = loads["health-close"].ratio("cpu_us_per_req")
    goal(f"CPU per request, health-close: {fmt_ratio(x)}× nginx (≤ 1.0)", x, lambda v: v <= 1.0)
    if loads["health-pipe16"].has("relaydash"):
        x = loads["health-pipe16"].median["relaydash"]["cpu_us_per_req"]
        goal(f"CPU per request, health-pipe16: {x:.2f} µs (≤ 3)", x, lambda v: v <= 3)
    x = loads["ui-c64"].ratio("cpu_us_per_req")
    goal(f"CPU per request, ui-c64: {fmt_ratio(x)}× nginx (≤ 0.55)", x, lambda v: v <= 0.55)
    if loads["login-c64"].has("relaydash"):
        x = loads["login-c64"].median["relaydash"]["rps"]
        goal(f"sign-ins per second: {x:,.0f} (≥ 25,000)", x, lambda v: v >= 25000)
    if idle is not None:
        goal(f"idle resident memory: {idle / 1024:.2f} MiB (< 4)", idle, lambda v: v < 4096)
    if held is not None and idle is not None:
        per = (held - idle) * 1024 / 1000
        goal(f"an idle connection costs {per:,.0f} bytes (≤ 512)", per, lambda v: v <= 512)
    if (released := facts.get("rss_released_kib")) is not None and idle is not None:
        goal(f"after 1000 connections closed: {released - idle:+,} KiB from idle (≤ 512)",
             released - idle, lambda v: v <= 512)
    for line in notes:
        print(f"- note: {line}")


if __name__ == "__main__":
    main()
