"""The module's report equals the tool's JSON report, field for field and float for float, over
the example profile, generated ones and several queried as one."""

import pytest

import zel_profile
from conftest import EXAMPLE, assert_same, plain, tool_report

# Each case: the module's keywords and the same query as the tool's options.
QUERIES = [
    ({}, []),
    ({"group_by": "phase", "samples": 5}, ["--group-by", "phase", "--samples", "5"]),
    ({"group_by": "metadata", "metadata_key": "block", "sort_by": "name", "samples": 3},
     ["--group-by", "metadata", "--metadata-key", "block", "--sort-by", "name", "--samples", "3"]),
    ({"group_by": "tile", "kind": "compute", "sort_by": "maximum-cycles", "limit": 4},
     ["--group-by", "tile", "--kind", "compute", "--sort-by", "maximum-cycles", "--limit", "4"]),
    ({"group_by": "operation", "tiles": [4, 6, 1], "phases": [0, 2], "samples": 100},
     ["--group-by", "operation", "--tile", "4", "--tile", "6", "--tile", "1", "--phase", "0",
      "--phase", "2", "--samples", "100"]),
    ({"group_by": "kind", "at": 1500, "samples": 10, "sort_by": "samples"},
     ["--group-by", "kind", "--at", "1500", "--samples", "10", "--sort-by", "samples"]),
    ({"kernel": "", "operation_contains": "a", "sort_by": "work-cycles", "samples": 2},
     ["--kernel", "", "--operation-contains", "a", "--sort-by", "work-cycles", "--samples", "2"]),
    ({"group_by": "kind", "window": (1000, 2000), "samples": 7},
     ["--group-by", "kind", "--from", "1000", "--to", "2000", "--samples", "7"]),
    ({"window": (None, 1500), "at": 700}, ["--to", "1500", "--at", "700"]),
    ({"metadata": ["block", "layer=0"], "group_by": "metadata", "metadata_key": "dtype"},
     ["--metadata", "block", "--metadata", "layer=0", "--group-by", "metadata",
      "--metadata-key", "dtype"]),
    ({"group_by": "phase", "reverse": True, "limit": 3},
     ["--group-by", "phase", "--reverse", "--limit", "3"]),
    ({"group_by": "phase", "window": (1000, 2500), "clip": True, "samples": 5},
     ["--group-by", "phase", "--from", "1000", "--to", "2500", "--clip", "--samples", "5"]),
]


@pytest.mark.parametrize("keywords, options", QUERIES)
def test_reports_equal_the_tools(keywords, options, generated):
    example = zel_profile.read(EXAMPLE)
    assert_same(plain(zel_profile.query(example, **keywords)), tool_report([EXAMPLE], options))

    profiles = [zel_profile.read(path) for path in generated]
    for path, profile in zip(generated, profiles):
        expected = tool_report([path], options)
        for threads in (1, 3):
            report = zel_profile.query(profile, threads=threads, **keywords)
            assert_same(plain(report), expected, f"{path.name}, {threads} threads")

    # Several profiles as one, their tiles in the order given, on one thread and on several.
    expected = tool_report(generated, options)
    for threads in (1, 2, None):
        assert_same(plain(zel_profile.query(profiles, threads=threads, **keywords)), expected)


def test_field_names_are_the_reports_keys():
    report = zel_profile.query(zel_profile.read(EXAMPLE), group_by="phase", samples=1)
    expected = tool_report([EXAMPLE], ["--group-by", "phase", "--samples", "1"])
    assert list(zel_profile.QueryReport.fields) == list(expected)
    assert list(zel_profile.GroupSummary.fields) == list(expected["groups"][0])
    assert list(zel_profile.SampleRecord.fields) == list(expected["samples"][0])
    assert list(zel_profile.MetadataEntry.fields) == list(expected["samples"][0]["metadata"][0])
    assert report == zel_profile.query(zel_profile.read(EXAMPLE), group_by="phase", samples=1)
    assert report != zel_profile.query(zel_profile.read(EXAMPLE), group_by="phase")
