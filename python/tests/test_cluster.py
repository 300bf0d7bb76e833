"""query_files on a local Dask cluster of two worker processes: the ordered merge on the workers
against one in-process query over the concatenated profiles, a worker killed while it reads, and
files that cannot be read."""

import json
import os
import random
import select
import signal
import threading
import time
from pathlib import Path

import psutil
import pytest
import zel_profile

# Samples of equal length, tile and offset are reported in file order; the twins of the profiles
# (below) have such samples, so the many longest samples tell a wrong order apart.
QUERIES = [
    {"group_by": "kernel", "samples": 60},
    {"group_by": "phase", "sort_by": "work-cycles", "samples": 30},
    {"group_by": "tile", "sort_by": "name", "kind": "compute", "samples": 60},
    {"group_by": "kind", "window": (2000, None), "samples": 40},
    {"group_by": "operation", "sort_by": "maximum-cycles", "limit": 4, "reverse": True,
     "samples": 60},
]


@pytest.fixture(scope="module")
def client():
    from dask.distributed import Client, LocalCluster

    # The workers are new processes: they find the module through PYTHONPATH.
    package_dir = Path(zel_profile.__file__).parent.parent
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [str(package_dir)] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def pieces_of(source, cuts, folder, name, binary):
    """Writes the tiles of the JSON profile `source` cut before each tile index in `cuts`, a file
    a piece, each binary or text as `binary` says."""
    document = json.loads(Path(source).read_text())
    tiles = document["tiles"]
    bounds = [0, *cuts, len(tiles)]
    paths = []
    for index, (first, end) in enumerate(zip(bounds, bounds[1:])):
        text = folder / f"{name}-{index}.json"
        text.write_text(json.dumps({**document, "tiles": tiles[first:end]}))
        if binary[index]:
            stored = folder / f"{name}-{index}.zprof"
            zel_profile.write(zel_profile.read(text), stored)
            text.unlink()
            text = stored
        paths.append(str(text))
    return paths


def test_ordered_tree_merge_equals_one_query_over_the_concatenated_profiles(
        client, generated, tmp_path):
    """Random sequences of the generated profiles and their twins, each cut at random tiles into
    text and binary files: the workers' tree over the pieces, and the merge here without a
    cluster, give the report of one in-process query over the pieces in that order (which, but by
    tile, is that over the whole profiles), for 2 to 16 files."""
    rng = random.Random(23)
    twins = []
    for source in generated:
        # The same samples running operations of other names.
        document = json.loads(Path(source).read_text())
        for step in document["steps"]:
            step["operation"] += "'"
        twins.append(tmp_path / f"twin-{Path(source).name}")
        twins[-1].write_text(json.dumps(document))
    for trial in range(8):
        pick = rng.randrange(len(generated))
        sources = [generated[pick], twins[pick]]
        sources += rng.choices(generated + twins, k=rng.randint(0, 2))
        rng.shuffle(sources)
        paths = []
        for number, source in enumerate(sources):
            tiles = zel_profile.read(source).tile_count
            cuts = sorted(rng.sample(range(1, tiles), rng.randint(0, min(3, tiles - 1))))
            binary = [rng.random() < 0.5 for _ in range(len(cuts) + 1)]
            paths += pieces_of(source, cuts, tmp_path, f"t{trial}-{number}", binary)
        whole = [zel_profile.read(source) for source in sources]
        pieces = [zel_profile.read(path) for path in paths]
        for query in (QUERIES[trial % len(QUERIES)], QUERIES[(trial + 2) % len(QUERIES)]):
            # Each file is a chip, so the pieces of a cut profile are chips of their own: by tile
            # their groups are named per piece; every other grouping counts as over the whole.
            expected = zel_profile.query(pieces, **query)
            if query["group_by"] != "tile":
                assert expected == zel_profile.query(whole, **query), (trial, query)
            on_cluster = zel_profile.query_files(paths, client=client, **query)
            assert on_cluster == expected, (trial, query)
            assert zel_profile.query_files(paths, **query) == expected, (trial, query)


def test_files_that_cannot_be_read_are_named_on_the_client(client, generated, tmp_path):
    good = [str(path) for path in generated]
    stored = tmp_path / "good.zprof"
    zel_profile.write(zel_profile.read(generated[0]), stored)
    truncated = tmp_path / "truncated.zprof"
    truncated.write_bytes(stored.read_bytes()[: stored.stat().st_size // 2])
    broken_text = tmp_path / "broken.json"
    broken_text.write_text(Path(generated[1]).read_text()[:-40])
    missing = tmp_path / "missing.json"
    for bad in (truncated, broken_text, missing):
        for position in (0, 2, 3):
            paths = good[:position] + [str(bad)] + good[position:]
            for where in (client, None):
                with pytest.raises(zel_profile.ProfileReadError) as raised:
                    zel_profile.query_files(paths, client=where)
                assert raised.value.source == str(bad), (bad, position, where)
                assert str(bad) in str(raised.value)


def test_a_report_travels_as_exact_bytes_and_malformed_ones_are_refused(generated):
    """A worker finishes the report and sends its bytes: they give the same report back, and
    every cut or lengthened copy raises ValueError rather than a wrong report."""
    words = zel_profile._words(group_by="tile", window=(100, 90000), samples=4)
    partial = zel_profile._partial_of_file(str(generated[0]), 0, words)
    data = zel_profile._finished(words, partial)
    assert zel_profile._core.report_from_bytes(data) == zel_profile.finish(
        [zel_profile.PartialQuery(partial)], group_by="tile", window=(100, 90000), samples=4)
    for bad in [data[:end] for end in range(len(data))] + [data + b"\0"]:
        with pytest.raises(ValueError):
            zel_profile._core.report_from_bytes(bad)


def readers_of(path, pids):
    """The processes among `pids` that have `path` open."""
    found = []
    for pid in pids:
        try:
            descriptors = os.listdir(f"/proc/{pid}/fd")
        except FileNotFoundError:
            continue
        for descriptor in descriptors:
            try:
                if os.readlink(f"/proc/{pid}/fd/{descriptor}") == str(path):
                    found.append(pid)
                    break
            except OSError:
                continue
    return found


def wait_for(condition, what, seconds=60):
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.02)
    return value


def test_a_worker_killed_while_reading_changes_nothing(client, generated, tmp_path):
    """One file is a named pipe that this test holds open and writes only later, so the worker
    reading it waits: the test kills that worker while it reads (holding any partials it made
    before), the scheduler runs its tasks again on the workers left and the one started in its
    place, and the report is still exact."""
    stored = tmp_path / "late.zprof"
    zel_profile.write(zel_profile.read(generated[2]), stored)
    pipe = tmp_path / "pipe.zprof"
    os.mkfifo(pipe)
    order = [generated[0], generated[1], generated[0], pipe, generated[2], generated[1]]
    paths = [str(path) for path in order]
    query = {"group_by": "phase", "samples": 5}
    expected = zel_profile.query(
        [zel_profile.read(stored if path == pipe else path) for path in order], **query)

    # Held open for writing, so a reader's open() returns and its read() waits for the bytes.
    descriptor = os.open(pipe, os.O_RDWR | os.O_NONBLOCK)
    outcome = []
    thread = threading.Thread(target=lambda: outcome.append(
        zel_profile.query_files(paths, client=client, **query)))
    thread.start()
    try:
        pids = list(client.run(os.getpid).values())
        victim = wait_for(lambda: readers_of(pipe, pids), "a worker to open the pipe")[0]
        os.kill(victim, signal.SIGKILL)
        wait_for(lambda: not readers_of(pipe, [victim]), "the killed worker to close the pipe")
        # Nothing was written yet. This end stays open, so the reader of the task run again opens
        # the pipe and waits in read() until the bytes come: it is seen before any byte is
        # written, however fast it then reads, and no byte is written without a reader.
        wait_for(lambda: readers_of(pipe, [child.pid for child in
                                           psutil.Process().children(recursive=True)]),
                 "a worker to open the pipe again", seconds=120)
        data = memoryview(stored.read_bytes())
        deadline = time.monotonic() + 60
        while data:
            assert time.monotonic() < deadline, "timed out writing the pipe"
            if select.select([], [descriptor], [], 0.1)[1]:
                data = data[os.write(descriptor, data):]
    finally:
        os.close(descriptor)
        thread.join(timeout=120)
    assert not thread.is_alive()
    assert outcome == [expected]
