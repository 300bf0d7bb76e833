"""The module behaves as the tool does: what a profile holds, warnings about absent names, file
names refused where profiles are expected, and report lists converted once."""

import json
import subprocess
import warnings
from pathlib import Path

import pytest

import zel_profile
from conftest import EXAMPLE, TOOL, run_tool


def test_info_is_the_tools(generated):
    example = zel_profile.read(EXAMPLE)
    assert example.info() == json.loads(run_tool("info", EXAMPLE, "--format", "json"))
    profiles = [zel_profile.read(path) for path in generated]
    assert zel_profile.info(profiles, threads=2) == \
        json.loads(run_tool("info", *generated, "--format", "json"))


@pytest.mark.parametrize("keywords, options", [
    ({"kernel": "gemm"}, ["--kernel", "gemm"]),
    ({"tiles": [4, 99], "kind": "compute"}, ["--tile", "4", "--tile", "99", "--kind", "compute"]),
    ({"metadata": ["blok=1"], "phases": [77]}, ["--metadata", "blok=1", "--phase", "77"]),
])
def test_absent_names_warn_in_the_tools_words(keywords, options):
    tool = subprocess.run([TOOL, "query", str(EXAMPLE), *options], capture_output=True, text=True,
                          check=True)
    expected = [line.removeprefix("zel-profile: ") for line in tool.stderr.splitlines()]
    assert expected
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        zel_profile.query(zel_profile.read(EXAMPLE), **keywords)
    assert [str(w.message) for w in caught] == expected
    assert all(w.category is zel_profile.AbsentNameWarning for w in caught)
    assert all(w.filename == __file__ for w in caught)


def test_file_names_where_profiles_belong_raise_type_error():
    for call in (lambda: zel_profile.query(str(EXAMPLE)),
                 lambda: zel_profile.query(Path(EXAMPLE)),
                 lambda: zel_profile.query_files("/x.json"),
                 lambda: zel_profile.query_files(Path("/x.json")),
                 lambda: zel_profile.info(str(EXAMPLE))):
        with pytest.raises(TypeError, match="expected a"):
            call()


def test_report_lists_are_converted_once():
    report = zel_profile.query(zel_profile.read(EXAMPLE), group_by="tile", samples=20)
    assert report.samples is report.samples and report.groups is report.groups
    assert len(report.samples) == 20 and report.samples[0].duration >= report.samples[-1].duration
