#!/usr/bin/env python3
"""How long the Python module takes to make pandas frames of large reports (never run as a test):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_frames.py FILE [ROWS]

FILE should hold at least ROWS samples (default 10^6), such as
`zel-profile generate --tiles 1472 --epochs 4 --phases 60 -o FILE`. It reports, best and median of
5 repetitions by the wall clock and by the thread's CPU time: samples_frame() of a report of the ROWS longest samples, and
groups_frame() of the report grouped by tile; the query itself is not timed.
"""

import statistics
import sys
import time
import timeit

import zel_profile


def measure(label, make, rows):
    make()  # warm up: the report's lists and pandas' imports
    # The wall clock, and the thread's CPU time, which a shared machine disturbs less.
    for name, timer in (("wall", time.perf_counter), ("cpu", time.thread_time)):
        times = timeit.repeat(make, number=1, repeat=5, timer=timer)
        print(f"{label}: {rows} rows, {name} time: best {min(times) * 1e3:.1f} ms, "
              f"median {statistics.median(times) * 1e3:.1f} ms")


def main(path, rows):
    profile = zel_profile.read(path)
    if profile.sample_count < rows:
        sys.exit(f"{path} holds {profile.sample_count} samples, fewer than {rows}")
    report = zel_profile.query(profile, samples=rows)
    measure("samples_frame", report.samples_frame, len(report.samples))
    by_tile = zel_profile.query(profile, group_by="tile")
    measure("groups_frame by tile", by_tile.groups_frame, len(by_tile.groups))


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 10**6)
