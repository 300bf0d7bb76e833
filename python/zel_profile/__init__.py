"""Query execution profiles of a many-tile processor from Python.

    import zel_profile
    profile = zel_profile.read("run.json")
    report = zel_profile.query(profile, group_by="phase", samples=10)
    for group in report.groups:
        print(group.name, group.phase_cycles, group.mean_cycles)
    frame = report.groups_frame()          # a pandas DataFrame
    every = zel_profile.query(profile, samples="all").samples_frame()
    balance = zel_profile.load_balance(profile, kind="compute")   # a DataFrame

The query's keywords take the words of ``zel-profile query``'s options, from the one table of the
query's parameters that the tool and the explorer also read, so all accept the same words and give
the same report, bit for bit. The report's
classes (QueryReport, GroupSummary, SampleRecord, MetadataEntry) carry the engine's field names;
floats are the engine's doubles. ``report.samples`` is a ReportedSamples, a read-only sequence whose
SampleRecords are made as they are read; ``samples_frame()`` builds its columns without them.
``timeline`` and ``load_balance`` give the explorer's views as DataFrames. ``query_files`` queries many stored profiles as one, each read and
reduced on a worker of a Dask cluster when given a client. ``profile.info()`` says what a profile
holds before it is queried.

Like the tool, a query runs on every core unless ``threads`` says otherwise, ``reverse=True``
turns the groups' order around before ``limit`` cuts it, and a filter naming a kernel, kind, phase,
tile or metadata name that the profiles lack gives an ``AbsentNameWarning`` (``warnings.warn``)
with the tool's words and suggestion.
"""

import json
import os
import warnings

from . import _core
from ._core import (
    GroupSummary,
    MetadataEntry,
    PartialQuery,
    Profile,
    ProfileReadError,
    QueryReport,
    ReportedSamples,
    SampleRecord,
)
from . import _frames
from ._frames import groups_frame, samples_frame

__all__ = [
    "AbsentNameWarning",
    "GroupSummary",
    "MetadataEntry",
    "PartialQuery",
    "Profile",
    "ProfileReadError",
    "QueryReport",
    "ReportedSamples",
    "SampleRecord",
    "finish",
    "info",
    "load_balance",
    "partial_query",
    "query",
    "query_files",
    "read",
    "timeline",
    "write",
]

QueryReport.groups_frame = groups_frame
QueryReport.samples_frame = samples_frame


class AbsentNameWarning(UserWarning):
    """A query's filter names something none of the profiles has, so it matches nothing by it."""


def info(profiles, threads=None):
    """What a profile, or a list of profiles taken as one, holds, as ``zel-profile info --format
    json`` says it: a dict with clock_hz, tile_count, sample_count, span_cycles and span_ms, the
    samples per kind, kernel and operation (lists of {"name", "samples"}, most first), per phase
    and epoch ({"number", "samples"}), and the metadata keys with their values and samples.
    threads: how many threads read the samples (None: every core)."""
    return json.loads(_core.info_json(_profile_list(profiles, "profiles"),
                                      0 if threads is None else threads))


Profile.info = info


def read(path):
    """Reads a stored profile (a file name or path; "-" reads standard input).

    The path is taken as open() takes it: a str, bytes or os.PathLike, such as os.listdir gives
    for a name that is not UTF-8; one with a NUL byte raises ValueError.

    Raises ProfileReadError, a ValueError, naming the file, the place in the document and the
    problem when the file cannot be read or does not hold a valid profile; its source is the file
    name as os.fsdecode() gives it.
    """
    return _core.read(path)


def write(profile, path):
    """Writes a profile to a file, replacing it atomically: binary when the name ends in ".zprof",
    JSON text otherwise. Either is read back by read(), which knows the format by its first bytes.

    The path is taken as open() takes it (str, bytes or os.PathLike; a NUL byte is a ValueError).
    Raises RuntimeError "cannot write PATH: REASON" when the file cannot be written.
    """
    _core.write(profile, path)


def _text(keyword, value, optional=True):
    if value is None and optional:
        return None
    if not isinstance(value, str):
        raise TypeError(f"{keyword}: expected a str, got {type(value).__name__}")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError(f"{keyword}: expected text UTF-8 can encode, got {value!r}") from None
    return value


def _number(keyword, value, optional=True):
    if value is None and optional:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{keyword}: expected an int, got {type(value).__name__}")
    return value


def _window(keyword, value):
    if value is None:
        return None
    if isinstance(value, (str, bytes)) or not hasattr(value, "__iter__"):
        raise TypeError(f"{keyword}: expected a (from, to) pair, got {type(value).__name__}")
    ends = tuple(value)
    if len(ends) != 2:
        raise TypeError(f"{keyword}: expected a (from, to) pair, got {len(ends)} values")
    return tuple(_number(keyword, end) for end in ends)


def _many(keyword, values, convert):
    if isinstance(values, (str, bytes)) or not hasattr(values, "__iter__"):
        raise TypeError(f"{keyword}: expected a list, got {type(values).__name__}")
    return [convert(keyword, value, optional=False) for value in values]


def _flag(keyword, value, optional=True):
    return bool(value)


# How each kind of value is checked, by the kinds of the query's table of parameters.
_CHECKS = {"word": _text, "text": _text, "metadata": _text, "number": _number, "cycles": _number,
           "count": _number, "flag": _flag}

# The query's keywords, from the one table of the query's parameters that the tool's options and
# the explorer's parameters also come from: keyword -> its check. threads is Python's own.
_KEYWORDS = {"threads": _number}
for _keyword, _kind, _repeatable in _core.query_keywords():
    if _kind == "pair":
        _KEYWORDS[_keyword] = _window
    elif _repeatable:
        _KEYWORDS[_keyword] = (lambda check: lambda keyword, values: _many(keyword, values, check))(
            _CHECKS[_kind])
    else:
        _KEYWORDS[_keyword] = _CHECKS[_kind]


# samples="all" asks for every matched sample: the largest count the engine takes.
_ALL_SAMPLES = 2**64 - 1


def _words(**keywords):
    """The query's keywords as the engine's words and numbers, checked as the query converts them."""
    words = {}
    if keywords.get("samples") == "all":
        keywords["samples"] = _ALL_SAMPLES
    for keyword, value in keywords.items():
        check = _KEYWORDS.get(keyword)
        if check is None:
            raise TypeError(f"unexpected keyword argument {keyword!r}")
        words[keyword] = check(keyword, value)
    _core.check_words(words)
    return words


def _profile_list(profiles, keyword="profiles"):
    if isinstance(profiles, Profile):
        return [profiles]
    if isinstance(profiles, (str, bytes, os.PathLike)):
        raise TypeError(f"{keyword}: expected a Profile or a list of them, got "
                        f"{type(profiles).__name__}; read a file with zel_profile.read(path) or "
                        "query files with zel_profile.query_files([path, ...])")
    return list(profiles)


def _warn_about_absent_names(profiles, words):
    for message in _core.absent_name_warnings(profiles, words):
        warnings.warn(message, AbsentNameWarning, stacklevel=3)


def query(profiles, **keywords):
    """Runs one query over a profile, or over a list of profiles as one, and returns a QueryReport.

    The keywords are those of ``zel-profile query``'s options:

    - group_by: "kind", "kernel" (default), "operation", "phase", "tile", "metadata" (which
      needs metadata_key, the metadata name to group by) or "profile" (one group a profile)
    - sort_by: "phase-cycles" (default), "work-cycles", "maximum-cycles", "samples" or "name"
    - kind: only steps of this kind: "exchange", "compute", "synchronization" or "idle"
    - kernel: only steps running this kernel ("" selects steps without one)
    - operation_contains: only operations containing this text (case-sensitive)
    - tiles, phases: only these physical tiles / phase numbers (lists of ints)
    - metadata: only steps with these metadata entries, each "NAME" or "NAME=VALUE"
    - at: only samples running at this normalised time in cycles
    - window: (from, to), only samples running at some cycle of [from, to) (either end None: open)
    - clip: with a window, True counts only each sample's part inside it (its cycles, lengths,
      phase cycles and first/last offsets); without a window it raises ValueError
    - limit: at most this many groups; samples: also report this many longest samples, or
      "all" for every matched sample (report.samples reads them in place, longest first, and
      report.samples_frame() gives them as columns)
    - reverse: the groups in the opposite order, smallest first; limit then keeps the smallest
    - threads: how many threads the query runs on (None, the default as in the tool: every
      core); the report is the same for every number

    Several profiles are queried as one, each a chip (chip 0 the first given): a tile is a (chip,
    physical tile) pair, so tile_count counts the pairs, group_by="tile" names groups "chip N tile
    T" and group_by="profile" gives one group a profile, "chip N"; they must have the same clock
    rate. Bad words raise ValueError naming the allowed ones; a bare str or path (a file
    name) raises TypeError. The GIL is released while the query runs.
    """
    profiles = _profile_list(profiles)
    words = _words(**keywords)
    _warn_about_absent_names(profiles, words)
    return _core.query(profiles, words)


def partial_query(profiles, chip=0, **query):
    """The partial result of a query (query()'s keywords) over a profile or a list of profiles,
    merged in order: a PartialQuery that pickles compactly and merges with those of the profiles
    that follow, through finish(). Each profile is a chip: the first is chip `chip` (its place,
    from 0, among all the profiles queried together), the next chip + 1, and so on, so that tiles
    of the same number on two profiles count apart. Partials of single profiles must each be given
    their place: partial_query(p, chip=i) for the i-th. Grouped by tile, a profile's partial holds
    its tiles' figures finished, so merging it with a partial of the same chip raises ValueError."""
    words = _words(**query)
    partials = [_core.partial_of_profile(profile, words, chip + place)
                for place, profile in enumerate(_profile_list(profiles))]
    return _core.merge(partials, words)


def finish(partials, **query):
    """The report of partial results over consecutive profiles, merged in the order given; the
    keywords must be those of the query that made them (limit, sort_by and reverse may differ)."""
    return _core.finish(list(partials), _words(**query))


def _partial_of_file(path, chip, words):
    # Module-level functions, so that a cluster's workers find them by name. Each is a pure
    # function of its arguments, so a task the scheduler runs again (its worker died) gives the
    # same result. `chip`: the file's place among those queried together. Partials travel between
    # the tasks as their bytes, which a worker holds in a fraction of a partial's memory.
    return _core.partial_bytes_of_file(path, words, chip)


def _merged(words, *datas):
    return _core.merged_bytes(list(datas), words)


def _finished(words, *datas):
    # The report as bytes: a finished report is small, its partial need not be.
    return _core.finished_bytes(list(datas), words)


# How many neighbouring partials one merge task takes. A task decodes its inputs' bytes one at a
# time as it merges them, so it holds their bytes, the merge so far and one decoded input; four
# make a tree of about log4(files) levels, each of which decodes and encodes every partial once.
_MERGE_FAN_IN = 4


def _report_on_cluster(client, paths, chips, words):
    """The report of `paths` in their order, read, merged and finished on the cluster's workers in
    an ordered tree: each task merges a run of neighbouring partials, the last finishes the
    report, and only that report comes to the client."""
    from dask import delayed

    level = [
        delayed(_partial_of_file, pure=False)(path, chip, words)
        for path, chip in zip(paths, chips)
    ]
    while len(level) > _MERGE_FAN_IN:
        level = [
            delayed(_merged, pure=False)(words, *level[first:first + _MERGE_FAN_IN])
            if len(level[first:first + _MERGE_FAN_IN]) > 1 else level[first]
            for first in range(0, len(level), _MERGE_FAN_IN)
        ]
    # Built as one graph, so the scheduler merges neighbours as soon as both are read rather than
    # reading every file first.
    report = delayed(_finished, pure=False)(words, *level)
    return _core.report_from_bytes(client.compute(report, sync=True))


def query_files(paths, client=None, **query):
    """Queries stored profiles as one, each a chip (numbered from 0 in the order given, so tiles of
    the same number on two files are two tiles), like query() over the profiles read from `paths`,
    and returns the same QueryReport, bit for bit; only group_by="profile" differs, naming each
    group by its path where query() names it "chip N". Text, compressed text and binary files may
    be mixed.

    Each file is read and reduced to a PartialQuery on its own. With a dask.distributed Client
    this happens on the cluster's workers (which must be able to import zel_profile and read the
    paths), and the workers also merge the partials, four neighbours a task in the order of
    `paths`, and finish the report: the client receives only the report, so its memory depends on
    the groups and samples reported, not on the files. Without a client, the files are read
    here, one after another, each partial merged into those before it, so that one profile and
    two partials are in memory at a time.

    A file that cannot be read raises ProfileReadError naming it, here even when it was read on a
    worker. The keywords are query()'s; bad words raise ValueError before any file is read; a
    bare str or path (one file name) raises TypeError: pass a list.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError(f"paths: expected a list of file names, got {type(paths).__name__}; "
                        "for one file write query_files([path])")
    words = _words(**query)
    paths = [os.fspath(path) for path in paths]
    if not paths:
        raise ValueError("no profiles to query")
    for path in paths:
        # Refused here as open() refuses it, before any file is read.
        if (b"\0" if isinstance(path, bytes) else "\0") in path:
            raise ValueError("embedded null byte")
    if words.get("group_by") == "profile":
        # One group a file, named by its path; bytes that are not UTF-8 written as \xNN.
        words["profile_names"] = [
            os.fsencode(path).decode("utf-8", "backslashreplace") for path in paths
        ]
    chips = list(range(len(paths)))
    if client is None:
        partial = _core.partial_of_file(paths[0], words, chips[0])
        for path, chip in zip(paths[1:], chips[1:]):
            partial = _core.merge([partial, _core.partial_of_file(path, words, chip)], words)
        report = _core.finish([partial], words)
    else:
        report = _report_on_cluster(client, paths, chips, words)
    return report


def timeline(profiles, bins=200, rows=64, color_by="kind", **query):
    """The explorer's timeline (``/api/timeline``) as a pandas DataFrame, the same figures: the
    matched samples' cycles on a grid of rows of tiles by bins of normalised time, one row of the
    frame a (row, bin). Columns: `row` (the grid's row, from 0), `profile` (its profile's place
    among those drawn together), `first_cycle` and `end_cycle` (the bin's cycles [first, end)),
    then one column per category with its exact cycles in that row and bin: the four kinds with
    color_by="kind", the query's first 12 groups and "other" with color_by="group".

    The keywords are query()'s filters; `window` is the range drawn (from and to of the explorer;
    the whole span without it), whose bins are aligned to multiples of their width as the
    explorer's are, so a bin may begin before it. A timeline counts each sample's cycles inside
    its bins, so `clip` changes nothing. At most `bins` bins and `rows` rows (more rows when
    several profiles each need one). The frame's ``attrs`` hold `from`, `to`, `bins`,
    `bin_cycles`, `categories`, and per grid row its `labels` and `tiles`."""
    pandas = _frames._pandas()
    profiles = _profile_list(profiles)
    words = _words(**query)
    _warn_about_absent_names(profiles, words)
    built = _core.timeline_columns(profiles, words, _number("bins", bins, optional=False),
                                   _number("rows", rows, optional=False),
                                   _text("color_by", color_by, optional=False))
    frame = pandas.DataFrame(built["columns"], copy=False)
    frame.attrs.update(built["about"])
    return frame


def load_balance(profiles, **query):
    """The explorer's load balance (``/api/load-balance``) as a pandas DataFrame, the same figures:
    one row per profile and (phase, epoch), each profile's in the engine's order. Columns:
    `profile` (its place in the list), `phase`, `epoch`, `phase_cycles`, `tile_count`,
    `busy_cycles` (working cycles over its tiles), `maximum_busy_cycles` and `critical_tile` (the
    busiest tile), `mean_busy_cycles`, `imbalance` (maximum over mean) and `lost_cycles` (maximum
    minus mean). The keywords are query()'s: its filters, and a `window` counts only the cycles
    inside it (clipped, with or without `clip`). Sort by `lost_cycles` for the worst first."""
    pandas = _frames._pandas()
    profiles = _profile_list(profiles)
    words = _words(**query)
    _warn_about_absent_names(profiles, words)
    return pandas.DataFrame(_core.load_balance_columns(profiles, words), copy=False)
