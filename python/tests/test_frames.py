"""The report as pandas DataFrames, and the ImportError that says what is missing without pandas."""

import os
import subprocess
import sys

import zel_profile
from conftest import EXAMPLE


def test_frames_hold_the_reports_fields():
    report = zel_profile.query(zel_profile.read(EXAMPLE), group_by="metadata",
                               metadata_key="layer", samples=4)
    groups = report.groups_frame()
    assert list(groups.columns) == list(zel_profile.GroupSummary.fields)
    assert len(groups) == len(report.groups) > 1
    for row, group in zip(groups.itertuples(index=False), report.groups):
        assert tuple(row) == tuple(getattr(group, field) for field in group.fields)

    samples = report.samples_frame()
    assert list(samples.columns) == list(zel_profile.SampleRecord.fields)
    assert len(samples) == 4
    for row, sample in zip(samples.to_dict("records"), report.samples):
        assert row["duration"] == sample.duration and row["offset"] == sample.offset
        assert row["metadata"] == [(entry.name, entry.value) for entry in sample.metadata]


def test_frames_without_pandas_raise_import_error():
    program = f"""
import sys
sys.modules["pandas"] = None
import zel_profile
report = zel_profile.query(zel_profile.read({str(EXAMPLE)!r}))
assert report.groups[0].name == "gemm_f16"
for frame in (report.groups_frame, report.samples_frame):
    try:
        frame()
    except ImportError as error:
        assert "pandas" in str(error), error
    else:
        raise AssertionError("no ImportError")
print("refused")
"""
    result = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                            env=os.environ)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "refused\n"
