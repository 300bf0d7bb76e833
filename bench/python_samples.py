#!/usr/bin/env python3
"""How long Python takes to get a query's reported samples (never run as a test):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_samples.py FILE [FILE ...]

For each FILE (such as `zel-profile generate --tiles 1472 --epochs 3 --phases 68 --seed 7`,
900,864 samples, and `--epochs 35`, 10,510,080), with every sample asked for: the query alone,
the query and its first sample (`report.samples[0]`), and the query and `samples_frame()`; best and
median of 5 by the wall clock and by the process's CPU time (every thread).
"""

import statistics
import sys
import time

import zel_profile


def measure(label, run, repeat=5):
    walls, cpus = [], []
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        run()
        walls.append(time.perf_counter() - wall)
        cpus.append(time.process_time() - cpu)
    print(f"  {label}: wall best {min(walls):.3f} s, median {statistics.median(walls):.3f} s; "
          f"cpu best {min(cpus):.3f} s, median {statistics.median(cpus):.3f} s", flush=True)


def main(paths):
    for path in paths:
        profile = zel_profile.read(path)
        count = profile.sample_count
        print(f"{path}: {count} samples", flush=True)
        zel_profile.query(profile, samples=10).samples_frame()  # warm up pandas' imports
        measure("query", lambda: zel_profile.query(profile, samples=count))
        measure("query, samples[0]", lambda: zel_profile.query(profile, samples=count).samples[0])
        measure("query, samples_frame()",
                lambda: zel_profile.query(profile, samples=count).samples_frame())
        del profile


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
