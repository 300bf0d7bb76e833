"""The report's groups and samples as pandas DataFrames, one row each, built column by column.

The columns come from the compiled part ready made: numbers as NumPy arrays of the engine's
widths (uint32, uint64, float64), repeated texts as pandas categoricals.
"""


def _pandas():
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "zel_profile's frames need pandas, which could not be imported "
            "(on Debian: apt install python3-pandas)"
        ) from error
    return pandas


def _frame(pandas, columns):
    data = {}
    for name, column in columns.items():
        if isinstance(column, tuple) and column and column[0] == "category":
            _, codes, categories = column
            column = pandas.Categorical.from_codes(codes, categories=categories)
        data[name] = column
    return pandas.DataFrame(data, copy=False)


def groups_frame(report):
    """The report's groups as a pandas DataFrame in report order: `name`, then each of the groups'
    dimensions as a column of its own in snake_case (`phase` and `epoch`, `physical_tile`,
    `metadata_key` and `metadata_value`; numbers as uint32, texts as categoricals), then the other
    GroupSummary fields with their C++ types. Raises ImportError without pandas."""
    from . import _core

    return _frame(_pandas(), _core.group_columns(report))


def samples_frame(report):
    """The report's samples as a pandas DataFrame, longest first: the SampleRecord fields but
    `metadata` (numbers with their C++ types; `kind`, `operation` and `kernel` categorical), then
    one categorical column `metadata_NAME` per metadata name, missing where a sample's step lacks
    it (the first value where it names it twice). Raises ImportError without pandas."""
    from . import _core

    return _frame(_pandas(), _core.sample_columns(report))
