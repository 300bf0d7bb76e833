#!/usr/bin/env python3
"""Reads a stored profile, queries it twice and draws a chart of where the time went.

    PYTHONPATH=build/dev/python /usr/bin/python3 examples/analyse.py examples/profile.json chart.png

Left: the wall-clock time of each kernel (phase cycles), labelled with how many tiles ran it at
once on average. Right: for each (phase, epoch), the mean, 95th percentile and longest sample.
"""

import sys

import matplotlib

matplotlib.use("Agg")  # draws to files, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import zel_profile  # noqa: E402


def main(profile_path, chart_path):
    profile = zel_profile.read(profile_path)
    kernels = zel_profile.query(profile, group_by="kernel", threads=None)
    phases = zel_profile.query(profile, group_by="phase", sort_by="name", threads=None)

    print(f"{kernels.sample_count} samples on {kernels.tile_count} tiles, "
          f"span {kernels.profile_span_cycles} cycles")
    for group in kernels.groups:
        print(f"{group.name:<16} {group.phase_cycles:>10} cycles  "
              f"{group.average_active_tiles:6.2f} tiles active  p95 {group.p95_cycles}")

    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))
    names = [group.name for group in kernels.groups][::-1]
    cycles = [group.phase_cycles for group in kernels.groups][::-1]
    bars = left.barh(names, cycles, color="#4c72b0")
    for bar, group in zip(bars, kernels.groups[::-1]):
        left.text(bar.get_width(), bar.get_y() + bar.get_height() / 2,
                  f" {group.average_active_tiles:.2f} tiles", va="center", fontsize=8)
    left.set_xlabel("phase cycles (wall clock)")
    left.set_title("Time per kernel")
    left.margins(x=0.25)

    labels = [group.name for group in phases.groups]
    positions = range(len(labels))
    right.plot(positions, [g.mean_cycles for g in phases.groups], "o-", label="mean")
    right.plot(positions, [g.p95_cycles for g in phases.groups], "s--", label="p95")
    right.plot(positions, [g.maximum_cycles for g in phases.groups], "^:", label="max")
    right.set_xticks(list(positions), labels, rotation=45, ha="right", fontsize=8)
    right.set_ylabel("sample length (cycles)")
    right.set_title("Sample lengths per phase/epoch")
    right.legend()

    figure.suptitle(f"{profile_path}: {kernels.sample_count} samples, "
                    f"{kernels.profile_span_ms:.6g} ms")
    figure.tight_layout()
    figure.savefig(chart_path, dpi=100)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: analyse.py PROFILE CHART.png")
    main(sys.argv[1], sys.argv[2])
