"""Many profiles as one: partials of files, pickled compactly, merged in file order, in this
process and on a local Dask cluster of two worker processes, all giving query()'s report bit for
bit."""

import os
import pickle
from pathlib import Path

import pytest
import zel_profile
from conftest import EXAMPLE, assert_same, plain, tool_report

QUERY = {"group_by": "phase", "sort_by": "work-cycles", "samples": 7}
OPTIONS = ["--group-by", "phase", "--sort-by", "work-cycles", "--samples", "7"]


def test_partials_pickle_and_merge_into_the_report(generated):
    profiles = [zel_profile.read(path) for path in generated]
    # Each profile is a chip: its partial is made for its place.
    partials = [zel_profile.partial_query(profile, chip=chip, **QUERY)
                for chip, profile in enumerate(profiles)]
    for partial, profile in zip(partials, profiles):
        data = pickle.dumps(partial)
        assert pickle.loads(data) == partial
        assert partial.tile_count == profile.tile_count
        assert partial.sample_count == profile.sample_count
    # Partials keep distinct values, not samples: much smaller than 12 bytes a sample.
    assert len(pickle.dumps(partials[2])) < profiles[2].sample_count * 12
    whole = zel_profile.query(profiles, **QUERY)
    assert zel_profile.finish([pickle.loads(pickle.dumps(p)) for p in partials], **QUERY) == whole
    assert zel_profile.finish([zel_profile.partial_query(profiles, **QUERY)], **QUERY) == whole
    assert zel_profile.query_files(generated, **QUERY) == whole
    assert_same(plain(whole), tool_report(generated, OPTIONS))

    # A group per file, named by its path and holding that file's samples; query() names them by
    # their place.
    by_file = zel_profile.query_files(generated, group_by="profile")
    counts = {group.name: group.sample_count for group in by_file.groups}
    assert counts == {str(path): profile.sample_count for path, profile in zip(generated, profiles)}
    by_place = zel_profile.query(profiles, group_by="profile")
    assert sorted(group.name for group in by_place.groups) == ["chip 0", "chip 1", "chip 2"]

    # By tile, a profile's partial holds its tiles finished: the same chip twice is refused.
    by_tile = zel_profile.partial_query(profiles[0], chip=1, group_by="tile")
    with pytest.raises(ValueError, match="chip of its own"):
        zel_profile.finish([by_tile, by_tile], group_by="tile")


def test_query_files_on_a_local_cluster(generated):
    from dask.distributed import Client, LocalCluster

    # The workers are new processes: they find the module through PYTHONPATH.
    package_dir = Path(zel_profile.__file__).parent.parent
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [str(package_dir)] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    paths = [str(path) for path in generated] + [str(generated[0])]
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        on_cluster = zel_profile.query_files(paths, client=client, **QUERY)
        in_process = zel_profile.query_files(paths, **QUERY)
        assert on_cluster == in_process
        assert_same(plain(on_cluster), plain(in_process))
        assert on_cluster == zel_profile.query([zel_profile.read(p) for p in paths], **QUERY)
        assert on_cluster.tile_count == sum(zel_profile.read(p).tile_count for p in paths)

        # A worker's read error reaches the caller with its parts.
        missing = str(Path(paths[0]).parent / "missing.json")
        try:
            zel_profile.query_files([paths[0], missing], client=client)
        except zel_profile.ProfileReadError as error:
            assert error.source == missing
        else:
            raise AssertionError("no ProfileReadError")


def test_every_pickle_protocol_round_trips_or_refuses():
    """Protocols 0 and 1 build objects without their constructor: a partial result pickles through
    its bytes with every protocol, the other classes are refused with TypeError by every one, and
    none brings the interpreter down."""
    profile = zel_profile.read(EXAMPLE)
    report = zel_profile.query(profile, samples=1)
    partial = zel_profile.partial_query(profile, **QUERY)
    refused = [profile, report, report.groups[0], report.samples[0], report.samples[0].metadata[0]]
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(partial, protocol=protocol)) == partial, protocol
        for value in refused:
            with pytest.raises(TypeError, match="cannot pickle"):
                pickle.dumps(value, protocol=protocol)


def test_partials_are_tied_to_their_query_and_checked():
    """finish() with other query words, or with another query's partial, and any flipped bit of
    the bytes are refused with ValueError rather than giving a wrong report."""
    profile = zel_profile.read(EXAMPLE)
    partial = zel_profile.partial_query(profile, **QUERY)
    other = zel_profile.partial_query(profile, **{**QUERY, "kind": "compute"})
    with pytest.raises(ValueError, match="another query"):
        zel_profile.finish([partial], **{**QUERY, "kind": "compute"})
    with pytest.raises(ValueError, match="another query"):
        zel_profile.finish([partial, other], **QUERY)
    data = partial.to_bytes()
    for bit in range(8 * len(data)):
        flipped = bytearray(data)
        flipped[bit // 8] ^= 1 << bit % 8
        with pytest.raises(ValueError):
            zel_profile.PartialQuery.from_bytes(bytes(flipped))
