#!/usr/bin/env python3
"""Checks `zel-profile export --format chrome-trace` against an independent read of the profile.

For several filters over the example profile: the trace parses as JSON, names a thread per tile,
and holds exactly the matched samples, tile by tile in the file's order, with the right times,
names, kinds and args; their count is the query's matched_sample_count and their durations summed
per kernel are the query's work cycles. A profile without clock rate gets its times in cycles.

Usage: export_trace.py TOOL EXAMPLE_PROFILE
"""
import json
import os
import subprocess
import sys
import tempfile

KINDS = ["exchange", "compute", "synchronization", "idle"]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def expected_events(profile, kind=None, tiles=None, at=None, metadata=None):
    """The matched samples as the trace should give them, read straight from the stored JSON."""
    steps = profile["steps"]
    clock = profile["clock_hz"]
    events = []
    for tile in profile["tiles"]:
        samples = tile["samples"]
        if not samples or (tiles and tile["physical_tile"] not in tiles):
            continue
        base = samples[0][1]
        for step_index, start, end in samples:
            step = steps[step_index]
            offset = (start - base) % 2**32
            length = (end - start) % 2**32
            entries = step.get("metadata", [])
            if kind and step["kind"] != kind:
                continue
            if at is not None and not offset <= at < offset + length:
                continue
            if metadata and not any(e["name"] == metadata[0] and e["value"] == metadata[1]
                                    for e in entries):
                continue
            kernel = step.get("kernel", "")
            events.append({
                "name": kernel or step["operation"], "cat": step["kind"], "ph": "X", "pid": 0,
                "tid": tile["physical_tile"],
                "ts": offset * 1e6 / clock if clock else offset,
                "dur": length * 1e6 / clock if clock else length,
                "args": {"offset_cycles": offset, "duration_cycles": length,
                         "phase": step["phase"], "epoch": step["epoch"],
                         "operation": step["operation"], "kernel": kernel,
                         "metadata": {e["name"]: e["value"] for e in entries}}})
    return events


def run(tool, arguments):
    return subprocess.run([tool] + arguments, check=True, capture_output=True).stdout


def main():
    if len(sys.argv) != 3:
        fail(__doc__)
    tool, example = sys.argv[1:]
    with open(example) as f:
        profile = json.load(f)
    work = tempfile.mkdtemp(prefix="zel-export-test-")
    cases = [
        ([], {}),
        (["--kind", "compute", "--tile", "4", "--tile", "6"], {"kind": "compute", "tiles": {4, 6}}),
        (["--at", "1000"], {"at": 1000}),
        (["--metadata", "layer=1"], {"metadata": ("layer", "1")}),
    ]
    for options, filters in cases:
        path = os.path.join(work, "trace.json")
        run(tool, ["export", example, "-o", path] + options)
        with open(path, "rb") as f:
            text = f.read()
        if run(tool, ["export", "--format", "chrome-trace", example] + options) != text:
            fail("%s: standard output differs from the file" % options)
        trace = json.loads(text)
        if trace["otherData"] != {"clock_hz": profile["clock_hz"], "time_unit": "microseconds"}:
            fail("%s: otherData is %s" % (options, trace["otherData"]))
        events = trace["traceEvents"]
        threads = [e for e in events if e["ph"] == "M"]
        samples = [e for e in events if e["ph"] != "M"]
        tiles = [t["physical_tile"] for t in profile["tiles"]]
        if [(t["tid"], t["name"], t["args"]["name"]) for t in threads] != \
                [(t, "thread_name", "tile %d" % t) for t in tiles]:
            fail("%s: threads are %s" % (options, threads))
        expected = expected_events(profile, **filters)
        if samples != expected:
            for got, want in zip(samples, expected):
                if got != want:
                    fail("%s: event %s, expected %s" % (options, got, want))
            fail("%s: %d events, expected %d" % (options, len(samples), len(expected)))
        if not samples:
            fail("%s: no events; the case tests nothing" % options)

        report = json.loads(run(tool, ["query", example, "--format", "json"] + options))
        if report["matched_sample_count"] != len(samples):
            fail("%s: %d events, the query matched %d"
                 % (options, len(samples), report["matched_sample_count"]))
        work_by_kernel = {}
        for event in samples:
            group = event["args"]["kernel"] or "(no kernel)"
            work_by_kernel[group] = work_by_kernel.get(group, 0) + event["args"]["duration_cycles"]
        if work_by_kernel != {g["name"]: g["work_cycles"] for g in report["groups"]}:
            fail("%s: work cycles per kernel %s differ from the query's" % (options, work_by_kernel))

    # Without a clock rate, times are cycles.
    unclocked = dict(profile, clock_hz=0)
    path = os.path.join(work, "unclocked.json")
    with open(path, "w") as f:
        json.dump(unclocked, f)
    trace = json.loads(run(tool, ["export", path]))
    if trace["otherData"]["time_unit"] != "cycles":
        fail("a profile without clock rate gives times in %s" % trace["otherData"]["time_unit"])
    if [e for e in trace["traceEvents"] if e["ph"] == "X"] != expected_events(unclocked):
        fail("a profile without clock rate gives other events")
    # Names with quotes, backslashes, control characters and markup arrive intact, and a metadata
    # name listed twice keeps both values.
    hostile = "q\"uote\\back\nline\ttab\x01</script>\u00e9"
    odd = {"version": 1, "clock_hz": 1000000,
           "steps": [{"local_index": 0, "phase": 3, "epoch": 1, "operation": hostile,
                      "kind": "idle", "kernel": hostile,
                      "metadata": [{"name": hostile, "value": "1"}, {"name": hostile, "value": "2"}]}],
           "tiles": [{"physical_tile": 9, "samples": [[0, 4294967290, 10]]}]}
    path = os.path.join(work, "odd.json")
    with open(path, "w") as f:
        json.dump(odd, f)
    events = [e for e in json.loads(run(tool, ["export", path]))["traceEvents"] if e["ph"] == "X"]
    want = {"name": hostile, "cat": "idle", "ph": "X", "pid": 0, "tid": 9, "ts": 0, "dur": 16,
            "args": {"offset_cycles": 0, "duration_cycles": 16, "phase": 3, "epoch": 1,
                     "operation": hostile, "kernel": hostile,
                     "metadata": {hostile: "1", hostile + "#2": "2"}}}
    if events != [want]:
        fail("odd names: %s, expected %s" % (events, [want]))
    print("export matches the profile and the query in %d cases" % (len(cases) + 2))


if __name__ == "__main__":
    main()
