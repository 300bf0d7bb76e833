#!/usr/bin/env python3
"""Sixteen clients against a running `zel-profile serve` (never run as a test):

    build/release/tools/zel-profile/zel-profile serve p8.zprof --port 0 &   # prints URL
    /usr/bin/python3 bench/server_clients.py URL [CLIENTS] [REQUESTS]

Each client (16 by default) sends its requests (100 by default) one after another over its own
connection: the page's timeline at a random zoom (the whole span, then windows down to a few
hundred cycles, 1600 bins, 64 rows), a tile's samples at a cycle, and /api/info. Prints the
latency per kind of request and over all, p50, p99 and the largest, and the number of errors.
Bounded: at most CLIENTS x REQUESTS requests, each given 60 s.
"""

import http.client
import json
import random
import statistics
import sys
import threading
import time
import urllib.parse


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main(url, clients, requests):
    parts = urllib.parse.urlsplit(url)
    token = urllib.parse.parse_qs(parts.query).get("token", [""])[0]

    def connect():
        return http.client.HTTPConnection(parts.hostname, parts.port, timeout=60)

    def get(connection, path, parameters):
        if token:
            parameters = dict(parameters, token=token)
        connection.request("GET", path + "?" + urllib.parse.urlencode(parameters))
        response = connection.getresponse()
        body = response.read()
        return response.status, body

    status, body = get(connect(), "/api/info", {})
    if status != 200:
        sys.exit(f"/api/info answered {status}: {body[:200]!r}")
    info = json.loads(body)
    span = info["span_cycles"]
    tiles = [t for p in info["profiles"] for t in range(p["tiles"])]

    latencies = {}
    errors = []
    lock = threading.Lock()

    def client(seed):
        rng = random.Random(seed)
        connection = connect()
        for _ in range(requests):
            pick = rng.random()
            if pick < 0.7:
                kind = "timeline"
                width = max(1, int(span / 10 ** rng.uniform(0, 5)))
                start = rng.randrange(0, max(1, span - width + 1))
                path, parameters = "/api/timeline", {
                    "from": start, "to": start + width, "bins": 1600, "rows": 64}
            elif pick < 0.9:
                kind = "samples"
                path, parameters = "/api/samples", {
                    "tile": rng.choice(tiles), "at": rng.randrange(span), "limit": 3}
            else:
                kind = "info"
                path, parameters = "/api/info", {}
            began = time.perf_counter()
            try:
                status, _ = get(connection, path, parameters)
            except (OSError, http.client.HTTPException) as error:
                status = str(error)
                connection = connect()
            took = time.perf_counter() - began
            with lock:
                latencies.setdefault(kind, []).append(took)
                if status != 200:
                    errors.append((path, parameters, status))

    began = time.perf_counter()
    threads = [threading.Thread(target=client, args=(seed,)) for seed in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.perf_counter() - began

    every = [t for values in latencies.values() for t in values]
    print(f"{clients} clients x {requests} requests in {wall:.1f} s, {len(errors)} errors")
    for kind, values in sorted(latencies.items()) + [("all", every)]:
        print(f"{kind:9} n={len(values):5}  p50 {1000 * statistics.median(values):8.1f} ms"
              f"  p99 {1000 * percentile(values, 0.99):8.1f} ms"
              f"  max {1000 * max(values):8.1f} ms")
    for error in errors[:5]:
        print("error:", error)
    return 1 if errors else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1],
                  int(sys.argv[2]) if len(sys.argv) > 2 else 16,
                  int(sys.argv[3]) if len(sys.argv) > 3 else 100))
