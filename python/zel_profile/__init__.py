"""Query execution profiles of a many-tile processor from Python.

    import zel_profile
    profile = zel_profile.read("run.json")
    report = zel_profile.query(profile, group_by="phase", samples=10)
    for group in report.groups:
        print(group.name, group.phase_cycles, group.mean_cycles)
    frame = report.groups_frame()          # a pandas DataFrame

The query's keywords take the words of ``zel-profile query``'s options and are converted by the
same code, so both accept the same words and give the same report, bit for bit. The report's
classes (QueryReport, GroupSummary, SampleRecord, MetadataEntry) carry the engine's field names;
floats are the engine's doubles. ``query_files`` queries many stored profiles as one, each read and
reduced on a worker of a Dask cluster when given a client.
"""

import os

from . import _core
from ._core import (
    GroupSummary,
    MetadataEntry,
    PartialQuery,
    Profile,
    ProfileReadError,
    QueryReport,
    SampleRecord,
)
from ._frames import groups_frame, samples_frame

__all__ = [
    "GroupSummary",
    "MetadataEntry",
    "PartialQuery",
    "Profile",
    "ProfileReadError",
    "QueryReport",
    "SampleRecord",
    "finish",
    "partial_query",
    "query",
    "query_files",
    "read",
    "write",
]

QueryReport.groups_frame = groups_frame
QueryReport.samples_frame = samples_frame


def read(path):
    """Reads a stored profile (a file name or path; "-" reads standard input).

    Raises ProfileReadError, a ValueError, naming the file, the place in the document and the
    problem when the file cannot be read or does not hold a valid profile.
    """
    return _core.read(os.fspath(path))


def write(profile, path):
    """Writes a profile to a file, replacing it atomically: binary when the name ends in ".zprof",
    JSON text otherwise. Either is read back by read(), which knows the format by its first bytes.

    Raises RuntimeError "cannot write PATH: REASON" when the file cannot be written.
    """
    _core.write(profile, os.fspath(path))


def _text(keyword, value):
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError(f"{keyword}: expected a str, got {type(value).__name__}")
    return value


def _number(keyword, value):
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{keyword}: expected an int, got {type(value).__name__}")
    return str(value)


def _many(keyword, values, convert):
    if isinstance(values, (str, bytes)) or not hasattr(values, "__iter__"):
        raise TypeError(f"{keyword}: expected a list, got {type(values).__name__}")
    return [convert(keyword, value) for value in values]


def _words(
    group_by="kernel",
    sort_by="phase-cycles",
    kind=None,
    kernel=None,
    operation_contains=None,
    tiles=(),
    phases=(),
    metadata=(),
    metadata_key=None,
    at=None,
    limit=None,
    samples=0,
    threads=1,
):
    """The query's keywords as the tool's words, checked by the tool's conversion."""
    words = {
        "group_by": _text("group_by", group_by),
        "sort_by": _text("sort_by", sort_by),
        "kind": _text("kind", kind),
        "kernel": _text("kernel", kernel),
        "operation_contains": _text("operation_contains", operation_contains),
        "tiles": _many("tiles", tiles, _number),
        "phases": _many("phases", phases, _number),
        "metadata": _many("metadata", metadata, _text),
        "metadata_key": _text("metadata_key", metadata_key),
        "at": _number("at", at),
        "limit": _number("limit", limit),
        "samples": _number("samples", samples),
        "threads": _number("threads", threads),
    }
    _core.check_words(words)
    return words


def _profile_list(profiles):
    if isinstance(profiles, Profile):
        return [profiles]
    return list(profiles)


def query(
    profiles,
    *,
    group_by="kernel",
    sort_by="phase-cycles",
    kind=None,
    kernel=None,
    operation_contains=None,
    tiles=(),
    phases=(),
    metadata=(),
    metadata_key=None,
    at=None,
    limit=None,
    samples=0,
    threads=1,
):
    """Runs one query over a profile, or over a list of profiles as one, and returns a QueryReport.

    The keywords are those of ``zel-profile query``'s options:

    - group_by: "kind", "kernel" (default), "operation", "phase", "tile" or "metadata" (which
      needs metadata_key, the metadata name to group by)
    - sort_by: "phase-cycles" (default), "work-cycles", "maximum-cycles", "samples" or "name"
    - kind: only steps of this kind: "exchange", "compute", "synchronization" or "idle"
    - kernel: only steps running this kernel ("" selects steps without one)
    - operation_contains: only operations containing this text (case-sensitive)
    - tiles, phases: only these physical tiles / phase numbers (lists of ints)
    - metadata: only steps with these metadata entries, each "NAME" or "NAME=VALUE"
    - at: only samples running at this normalised time in cycles
    - limit: at most this many groups; samples: also report this many longest samples
    - threads: how many threads the query runs on (None: every core); the report is the same

    Several profiles are queried as one, their tiles listed in the order given; they must have the
    same clock rate. Bad words raise ValueError naming the allowed ones. The GIL is released while
    the query runs.
    """
    words = _words(
        group_by=group_by,
        sort_by=sort_by,
        kind=kind,
        kernel=kernel,
        operation_contains=operation_contains,
        tiles=tiles,
        phases=phases,
        metadata=metadata,
        metadata_key=metadata_key,
        at=at,
        limit=limit,
        samples=samples,
        threads=threads,
    )
    return _core.query(_profile_list(profiles), words)


def partial_query(profiles, **query):
    """The partial result of a query (query()'s keywords) over a profile or a list of profiles,
    merged in order: a PartialQuery that pickles compactly and merges with those of the profiles
    that follow, through finish()."""
    words = _words(**query)
    partials = [_core.partial_of_profile(profile, words) for profile in _profile_list(profiles)]
    return _core.merge(partials, words)


def finish(partials, **query):
    """The report of partial results over consecutive profiles, merged in the order given; the
    keywords must be those of the query that made them."""
    return _core.finish(list(partials), _words(**query))


def _partial_of_file(path, words):
    # A module-level function, so that a cluster's workers find it by name.
    return _core.partial_of_file(path, words)


def query_files(paths, client=None, **query):
    """Queries stored profiles as one (their tiles listed in the order given), like query() over
    the profiles read from `paths`, and returns the same QueryReport, bit for bit.

    Each file is read and reduced to a PartialQuery on its own: with a dask.distributed Client, on
    the cluster's workers (which must be able to import zel_profile and read the paths), else here,
    one file after another, so that only one profile is in memory at a time. The partials, small
    and compactly pickled, are merged here in the order of `paths`. The keywords are query()'s;
    bad words raise ValueError before any file is read.
    """
    words = _words(**query)
    paths = [os.fspath(path) for path in paths]
    if not paths:
        raise ValueError("no profiles to query")
    if client is None:
        partials = [_partial_of_file(path, words) for path in paths]
    else:
        futures = client.map(_partial_of_file, paths, words=words, pure=False)
        partials = client.gather(futures)
    return _core.finish(partials, words)
