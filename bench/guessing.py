#!/usr/bin/env python3
"""guessing.py [--binary PATH] [--seconds S] [--workers N]

How many wrong passwords the server checks a second when someone guesses, and whether the
operator still gets in meanwhile. Starts PATH (default build/relaydash) on a free loopback port,
signs in once from 127.0.0.1 (which makes that address one that signed in before), and then, for
S seconds each, keeps N connections guessing:

  - spread: every attempt from another address, 4,200 addresses over many /24s;
  - one-24: every attempt from another address of one /24 (127.9.9.x);
  - one-address: every attempt from 127.0.0.2;
  - password-update: wrong current passwords with a valid token, from 127.0.0.3.

For each it prints the answered guesses a second, the attempts closed without an answer, and how
long the right password from 127.0.0.1 took to be answered, tried once a second meanwhile.
Only ever connects to addresses of 127.0.0.0/8.
"""
import argparse
import asyncio
import json
import os
import socket
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(path, body):
    data = json.dumps(body).encode()
    return (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            f"Content-Type: application/json\r\nContent-Length: {len(data)}\r\n\r\n").encode() + data


async def call(port, source, path, body, limit=30):
    """The answer's status line and body, or None when the connection closed without one."""
    reader, writer = await asyncio.wait_for(
        asyncio.open_connection("127.0.0.1", port, local_addr=(source, 0)), limit)
    try:
        writer.write(request(path, body))
        await writer.drain()
        raw = await asyncio.wait_for(reader.read(), limit)
    finally:
        writer.close()
    if not raw:
        return None
    head, _, rest = raw.partition(b"\r\n\r\n")
    return head.split(b"\r\n", 1)[0].decode(), rest


async def attack(port, mode, seconds, workers, token):
    counts = {"answered": 0, "closed": 0, "other": 0}
    deadline = time.monotonic() + seconds
    next_index = 0

    def source():
        nonlocal next_index
        i = next_index
        next_index += 1
        if mode == "spread":
            i %= 4200
            return f"127.{10 + i // 250}.{i % 250}.1"
        if mode == "one-24":
            return f"127.9.9.{1 + i % 250}"
        if mode == "one-address":
            return "127.0.0.2"
        return "127.0.0.3"

    async def worker():
        while time.monotonic() < deadline:
            if mode == "password-update":
                path, body = "/rpc/password/update", {
                    "auth": token, "input": {"currentPassword": "guess", "newPassword": "x"}}
            else:
                path, body = "/rpc/login/password", {"username": "admin", "password": "guess"}
            try:
                answer = await call(port, source(), path, body)
            except (OSError, asyncio.TimeoutError):
                counts["other"] += 1
                continue
            if answer is None:
                counts["closed"] += 1
            elif answer[0].split()[1] in ("400", "403"):
                counts["answered"] += 1
            else:
                counts["other"] += 1

    async def operator():
        waits = []
        while time.monotonic() < deadline - 1:
            start = time.monotonic()
            try:
                answer = await call(port, "127.0.0.1", "/rpc/login/password",
                                    {"username": "admin", "password": "quilm"}, limit=10)
                ok = answer is not None and answer[0].split()[1] == "200"
            except (OSError, asyncio.TimeoutError):
                ok = False
            waits.append(time.monotonic() - start if ok else None)
            await asyncio.sleep(1)
        return waits

    started = time.monotonic()
    results = await asyncio.gather(operator(), *(worker() for _ in range(workers)))
    elapsed = time.monotonic() - started
    waits = results[0]
    good = [w for w in waits if w is not None]
    print(f"{mode:16} {counts['answered'] / elapsed:8.1f} guesses/s answered, "
          f"{counts['closed']:6} closed unanswered, {counts['other']:4} other; operator: "
          f"{len(good)}/{len(waits)} signed in, slowest {max(good) if good else float('nan'):.2f} s")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "relaydash"))
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--workers", type=int, default=32)
    parser.add_argument("--modes", default="spread,one-24,one-address,password-update")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="relaydash-guessing-")
    port = free_port()
    config = os.path.join(work, "global_conf.json")
    with open(config, "w") as f:
        f.write('{"gateway_conf": {"gateway_ID": "AA555A0000000000"}}\n')
    server = subprocess.Popen(
        [args.binary, "--listen", "127.0.0.1", "--port", str(port), "--dataPath",
         os.path.join(work, "db.sqlite3"), "--forwarderConfigPath", config],
        cwd=work, stdout=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        answer = asyncio.run(call(port, "127.0.0.1", "/rpc/login/password",
                                  {"username": "admin", "password": "quilm"}))
        token = json.loads(answer[1])["output"]["auth"]
        for mode in args.modes.split(","):
            asyncio.run(attack(port, mode, args.seconds, args.workers, token))
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
