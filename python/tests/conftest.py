"""Shared fixtures: the zel-profile tool (whose JSON report is the reference), the example profile
and generated ones. ctest sets ZEL_PROFILE_TOOL, ZEL_PROFILE_SOURCE_DIR and PYTHONPATH."""

import json
import os
import subprocess
from pathlib import Path

import pytest

import zel_profile

TOOL = os.environ.get("ZEL_PROFILE_TOOL", "zel-profile")
SOURCE_DIR = Path(os.environ.get("ZEL_PROFILE_SOURCE_DIR", Path(__file__).parents[2]))
EXAMPLE = SOURCE_DIR / "examples" / "profile.json"


def run_tool(*args):
    return subprocess.run([TOOL, *map(str, args)], check=True, capture_output=True, text=True).stdout


def tool_report(paths, options):
    """The tool's JSON report of `paths` queried as one with command-line `options`."""
    return json.loads(run_tool("query", *paths, "--format", "json", *options))


def plain(value):
    """A report object as the JSON reader gives the tool's report: dicts in field order, lists."""
    if isinstance(value, (list, zel_profile.ReportedSamples)):
        return [plain(item) for item in value]
    fields = getattr(type(value), "fields", None)
    if fields is not None and not isinstance(value, (str, dict)):
        return {field: plain(getattr(value, field)) for field in fields}
    return value


def assert_same(actual, expected, where="report"):
    """Equal in every field and key order, and floats exactly."""
    if isinstance(expected, dict):
        assert isinstance(actual, dict), where
        assert list(actual) == list(expected), where
        for key in expected:
            assert_same(actual[key], expected[key], f"{where}.{key}")
    elif isinstance(expected, list):
        assert isinstance(actual, list) and len(actual) == len(expected), where
        for index, (left, right) in enumerate(zip(actual, expected)):
            assert_same(left, right, f"{where}[{index}]")
    else:
        # The JSON writer gives a whole-valued double as an integer ("150"); Python compares an
        # int and a float by their exact values, so == is still exact.
        allowed = (int, float) if isinstance(actual, float) else (type(actual),)
        assert type(expected) in allowed, f"{where}: {actual!r} against {expected!r}"
        assert actual == expected, f"{where}: {actual!r} against {expected!r}"


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """Three generated profiles of different seeds and shapes, all at the default clock rate."""
    folder = tmp_path_factory.mktemp("generated")
    paths = []
    for seed, tiles, epochs, phases in [(3, 12, 3, 7), (11, 5, 2, 9), (2026, 30, 2, 4)]:
        path = folder / f"seed{seed}.json"
        run_tool("generate", "--seed", seed, "--tiles", tiles, "--epochs", epochs,
                 "--phases", phases, "-o", path)
        paths.append(path)
    return paths
