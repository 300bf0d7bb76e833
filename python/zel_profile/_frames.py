"""The report's groups and samples as pandas DataFrames, one row each, one column per field."""


def _pandas():
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "zel_profile's frames need pandas, which could not be imported "
            "(on Debian: apt install python3-pandas)"
        ) from error
    return pandas


def groups_frame(report):
    """The report's groups as a pandas DataFrame in report order, one column per GroupSummary
    field; `dimensions` holds a dict per row. Raises ImportError without pandas."""
    pandas = _pandas()
    from ._core import GroupSummary

    fields = GroupSummary.fields
    return pandas.DataFrame(
        [[getattr(group, field) for field in fields] for group in report.groups],
        columns=list(fields),
    )


def samples_frame(report):
    """The report's samples as a pandas DataFrame, longest first, one column per SampleRecord
    field; `metadata` holds a list of (name, value) pairs per row. Raises ImportError without
    pandas."""
    pandas = _pandas()
    from ._core import SampleRecord

    fields = SampleRecord.fields

    def value(sample, field):
        if field == "metadata":
            return [(entry.name, entry.value) for entry in sample.metadata]
        return getattr(sample, field)

    return pandas.DataFrame(
        [[value(sample, field) for field in fields] for sample in report.samples],
        columns=list(fields),
    )
