#!/usr/bin/env python3
"""hold_connections.py PORT COUNT READY_FILE [SECONDS]

Opens COUNT TCP connections to 127.0.0.1:PORT, sends nothing, writes READY_FILE once all are
connected, and holds them until it is terminated or SECONDS (default 60) have passed.
Only ever connects to the loopback address.
"""
import socket
import sys
import time


def main() -> int:
    port, count, ready_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 60.0
    deadline = time.monotonic() + seconds
    held = []
    for _ in range(count):
        if time.monotonic() > deadline:
            print("hold_connections: ran out of time while connecting", file=sys.stderr)
            return 1
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(5.0)
        s.connect(("127.0.0.1", port))
        held.append(s)
    with open(ready_file, "w") as f:
        f.write(f"{len(held)}\n")
    # Hold until the caller terminates us or the time is up.
    time.sleep(max(0.0, deadline - time.monotonic()))
    for s in held:
        s.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
