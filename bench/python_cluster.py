#!/usr/bin/env python3
"""query_files over many stored profiles on a local Dask cluster against the same in this process
(a measurement, never run as a test):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_cluster.py [--workers 2]
        [--group-by kernel,tile,phase] [--no-in-process] FILE...

For each grouping, in a fresh process of its own (so that its peak memory is that query's): a
LocalCluster of worker processes of one thread each, query_files(FILES, client=...) timed by the
wall clock, the peak resident memory of this process (the client, with the scheduler a
LocalCluster runs in it) and of each worker; then, unless --no-in-process, query_files(FILES)
without a client, timed the same way, and whether both reports are equal. The load average is
printed before and after, since the machine may be shared.
"""

import argparse
import os
import resource
import subprocess
import sys
import time
from pathlib import Path


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # kB on Linux


def load():
    return "load average " + " ".join(f"{value:.2f}" for value in os.getloadavg())


def one_grouping(paths, group_by, workers, in_process):
    import zel_profile
    from dask.distributed import Client, LocalCluster

    package_dir = Path(zel_profile.__file__).parent.parent
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [str(package_dir)] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    with LocalCluster(n_workers=workers, processes=True, threads_per_worker=1,
                      dashboard_address=None, memory_limit=0) as cluster, Client(cluster) as client:
        before = peak_mb()
        start = time.perf_counter()
        on_cluster = zel_profile.query_files(paths, client=client, group_by=group_by)
        cluster_time = time.perf_counter() - start
        client_peak = peak_mb()
        worker_peaks = sorted(client.run(peak_mb).values())
    print(f"by {group_by}: {len(paths)} files, {on_cluster.sample_count} samples, "
          f"{len(on_cluster.groups)} groups; cluster of {workers}: {cluster_time:.1f} s, "
          f"client peak {client_peak:.0f} MB (before the query {before:.0f} MB), worker peaks "
          + ", ".join(f"{peak:.0f} MB" for peak in worker_peaks), flush=True)
    if in_process:
        start = time.perf_counter()
        here = zel_profile.query_files(paths, group_by=group_by)
        here_time = time.perf_counter() - start
        print(f"by {group_by}: in-process {here_time:.1f} s; cluster / in-process "
              f"{cluster_time / here_time:.2f}; reports equal: {here == on_cluster}", flush=True)
        if here != on_cluster:
            sys.exit(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--group-by", default="kernel,tile,phase")
    parser.add_argument("--no-in-process", action="store_true")
    parser.add_argument("--one", help=argparse.SUPPRESS)  # the grouping a child process measures
    arguments = parser.parse_args()
    if arguments.one:
        one_grouping(arguments.files, arguments.one, arguments.workers,
                     not arguments.no_in_process)
        return
    print(f"{os.cpu_count()} cores, {load()}", flush=True)
    for group_by in arguments.group_by.split(","):
        command = [sys.executable, __file__, "--one", group_by, "--workers", str(arguments.workers)]
        if arguments.no_in_process:
            command.append("--no-in-process")
        subprocess.run(command + arguments.files, check=True)
        print(load(), flush=True)


if __name__ == "__main__":
    main()
