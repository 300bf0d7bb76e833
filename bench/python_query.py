#!/usr/bin/env python3
"""The Python module's side of two measurements on stored profiles (never run as a test):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_query.py FILE [FILE10^7]

- the default query (grouped by kernel, one thread) through zel_profile.query on FILE, by the
  thread's CPU time and by the wall clock, best and median of 7 repetitions: compare with
  ZEL_PROFILE_BENCH_FILE=FILE build/release/bench/zel-profile-bench
      --benchmark_filter=stored_profile --benchmark_repetitions=7
- the pickled size of the partial result over each file by kind, by kernel (the default query), by
  phase and by tile, against the file's size.
"""

import os
import pickle
import statistics
import sys
import time
import timeit

import zel_profile


def main(paths):
    profile = zel_profile.read(paths[0])
    zel_profile.query(profile)  # warm up
    number = 10
    samples = profile.sample_count
    # The thread's CPU time, as the C++ benchmark measures, and the wall clock.
    for name, timer in (("cpu", time.thread_time), ("wall", time.perf_counter)):
        times = [t / number for t in timeit.repeat(lambda: zel_profile.query(profile),
                                                     number=number, repeat=7, timer=timer)]
        print(f"{paths[0]}: {samples} samples, zel_profile.query default, 1 thread, {name} time: "
              f"best {min(times) * 1e3:.2f} ms, median {statistics.median(times) * 1e3:.2f} ms "
              f"({statistics.median(times) / samples * 1e9:.2f} ns a sample)")
    del profile
    for path in paths:
        profile = zel_profile.read(path)
        stored = os.path.getsize(path)
        for group_by in ("kind", "kernel", "phase", "tile"):
            partial = zel_profile.partial_query(profile, group_by=group_by)
            pickled = len(pickle.dumps(partial))
            print(f"{path}: stored {stored} bytes; by {group_by}: pickled partial {pickled} bytes "
                  f"({pickled / stored * 100:.4f}% of the file), {partial.group_count} groups")
        del profile


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
