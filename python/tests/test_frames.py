"""The report as pandas DataFrames, and the ImportError that says what is missing without pandas."""

import os
import subprocess
import sys

import zel_profile
from conftest import EXAMPLE


def test_frames_hold_the_reports_fields_as_typed_columns():
    report = zel_profile.query(zel_profile.read(EXAMPLE), group_by="metadata",
                               metadata_key="layer", samples=60)
    groups = report.groups_frame()
    figures = [field for field in zel_profile.GroupSummary.fields
               if field not in ("name", "dimensions")]
    assert list(groups.columns) == ["name", "metadata_key", "metadata_value", *figures]
    assert len(groups) == len(report.groups) > 1
    assert str(groups["metadata_value"].dtype) == "category"
    assert groups["phase_cycles"].dtype == "uint64" and groups["p95_cycles"].dtype == "uint32"
    assert groups["mean_cycles"].dtype == "float64"
    for row, group in zip(groups.to_dict("records"), report.groups):
        assert row["name"] == group.name
        assert row["metadata_key"] == group.dimensions["metadataKey"]
        assert row["metadata_value"] == group.dimensions["metadataValue"]
        assert all(row[field] == getattr(group, field) for field in figures)

    by_phase = zel_profile.query(zel_profile.read(EXAMPLE), group_by="phase").groups_frame()
    assert by_phase["phase"].dtype == "uint32" and by_phase["epoch"].dtype == "uint32"
    assert [f"phase {p}/{e}" for p, e in zip(by_phase["phase"], by_phase["epoch"])] == \
        list(by_phase["name"])

    samples = report.samples_frame()
    names = sorted({entry.name for sample in report.samples for entry in sample.metadata})
    plain_fields = [field for field in zel_profile.SampleRecord.fields if field != "metadata"]
    assert list(samples.columns) == plain_fields + [f"metadata_{name}" for name in names]
    assert len(samples) == len(report.samples) > 4
    assert str(samples["kernel"].dtype) == "category" and samples["offset"].dtype == "uint64"
    for row, sample in zip(samples.to_dict("records"), report.samples):
        assert all(row[field] == getattr(sample, field) for field in plain_fields)
        given = {entry.name: entry.value for entry in reversed(sample.metadata)}
        for name in names:
            value = row[f"metadata_{name}"]
            assert (value if isinstance(value, str) else None) == given.get(name)


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
