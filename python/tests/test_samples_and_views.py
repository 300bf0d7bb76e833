"""Reported samples read in place and as columns, and the explorer's views as frames, against the
tool's JSON report and the explorer's answers on random queries."""

import json
import random
import subprocess
import urllib.request

import pytest

import zel_profile
from conftest import TOOL, assert_same, plain, tool_report


def random_query(rng, profile):
    """A random query as the module's keywords and the tool's options."""
    keywords, options = {}, []
    if rng.random() < 0.5:
        kind = rng.choice(["exchange", "compute", "synchronization", "idle"])
        keywords["kind"], options = kind, options + ["--kind", kind]
    if rng.random() < 0.3:
        tiles = rng.sample(range(12), 3)
        keywords["tiles"] = tiles
        for tile in tiles:
            options += ["--tile", str(tile)]
    if rng.random() < 0.5:
        first = rng.randrange(0, 40000)
        last = first + rng.randrange(1, 30000)
        keywords["window"] = (first, last)
        options += ["--from", str(first), "--to", str(last)]
        if rng.random() < 0.5:
            keywords["clip"], options = True, options + ["--clip"]
    return keywords, options


# Random tile filters may name tiles a profile lacks, which warns.
@pytest.mark.filterwarnings("ignore::zel_profile.AbsentNameWarning")
def test_samples_and_their_frame_are_the_tools(generated):
    rng = random.Random(20261210)
    profiles = [zel_profile.read(path) for path in generated]
    for round_ in range(24):
        chosen = rng.sample(range(len(generated)), rng.choice([1, 1, 2]))
        keywords, options = random_query(rng, profiles[chosen[0]])
        count = rng.choice([0, 1, 7, 100, "all"])
        keywords["samples"] = count
        options += ["--samples", str(2**64 - 1 if count == "all" else count)]
        expected = tool_report([generated[c] for c in chosen], options)["samples"]
        report = zel_profile.query([profiles[c] for c in chosen], **keywords)
        samples = report.samples
        where = f"round {round_}: {keywords}"
        assert len(samples) == len(expected), where
        # Read one by one, from either end, in slices and in a loop: the tool's records.
        if expected:
            assert_same(plain(samples[0]), expected[0], where)
            assert_same(plain(samples[-1]), expected[-1], where)
            assert_same(plain(samples[1::3]), expected[1::3], where)
        assert_same(plain(samples), expected, where)
        assert samples == list(samples) and bool(samples) == bool(expected)
        with pytest.raises(IndexError):
            samples[len(expected)]

        frame = report.samples_frame()
        names = sorted({entry["name"] for sample in expected for entry in sample["metadata"]})
        simple = [f for f in zel_profile.SampleRecord.fields if f != "metadata"]
        assert list(frame.columns) == simple + [f"metadata_{name}" for name in names], where
        for row, sample in zip(frame.to_dict("records"), expected):
            assert all(row[f] == sample[f] for f in simple), where
            given = {entry["name"]: entry["value"] for entry in reversed(sample["metadata"])}
            for name in names:
                value = row[f"metadata_{name}"]
                assert (value if isinstance(value, str) else None) == given.get(name), where


@pytest.fixture(scope="module")
def explorer(generated):
    """The explorer serving the first two generated profiles on a free loopback port."""
    server = subprocess.Popen([TOOL, "serve", generated[0], generated[1], "--port", "0",
                               "--no-token"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True)
    try:
        address = server.stdout.readline().strip().split("?")[0].rstrip("/")
        assert address.startswith("http://127.0.0.1:")
        yield address
    finally:
        server.terminate()
        server.wait(timeout=10)


def api(address, path, parameters):
    query = "&".join(f"{name}={value}" for name, value in parameters)
    with urllib.request.urlopen(f"{address}{path}?{query}", timeout=30) as answer:
        return json.loads(answer.read())


@pytest.mark.filterwarnings("ignore::zel_profile.AbsentNameWarning")
def test_views_are_the_explorers(generated, explorer):
    rng = random.Random(7)
    profiles = [zel_profile.read(path) for path in generated[:2]]
    for round_ in range(10):
        keywords, options = random_query(rng, profiles[0])
        # The tool's options as the explorer's parameters.
        parameters = []
        for word in options:
            if word.startswith("--"):
                parameters.append([word[2:], "true"])
            else:
                parameters[-1][1] = word
        where = f"round {round_}: {keywords}"

        balance = zel_profile.load_balance(profiles, **keywords)
        answer = api(explorer, "/api/load-balance", parameters)
        rows = balance.to_dict("records")
        expected = [dict(phase, profile=p) for p, entry in enumerate(answer["profiles"])
                    for phase in entry["phases"]]
        assert len(rows) == len(expected), where
        for row, phase in zip(rows, expected):
            assert all(row[key] == phase[key] for key in phase), where

        bins, lines = rng.choice([(50, 8), (7, 3), (200, 64)])
        color_by = rng.choice(["kind", "group"])
        grid = zel_profile.timeline(profiles, bins=bins, rows=lines, color_by=color_by,
                                    **keywords)
        own = [[name, value] for name, value in parameters if name not in ("clip",)]
        answer = api(explorer, "/api/timeline",
                     own + [["bins", bins], ["rows", lines], ["color-by", color_by]])
        assert (grid.attrs["from"], grid.attrs["to"], grid.attrs["bins"],
                grid.attrs["bin_cycles"]) == (answer["from"], answer["to"], answer["bins"],
                                              answer["bin_cycles"]), where
        assert grid.attrs["categories"] == answer["categories"], where
        assert grid.attrs["labels"] == [row["label"] for row in answer["rows"]], where
        assert grid.attrs["tiles"] == [row["tiles"] for row in answer["rows"]], where
        assert len(grid) == len(answer["rows"]) * answer["bins"], where
        for r, row in enumerate(answer["rows"]):
            cells = grid[grid["row"] == r]
            assert list(cells["profile"]) == [row["profile"]] * answer["bins"], where
            for category, cycles in row["cycles"].items():
                assert list(cells[category]) == cycles, where
