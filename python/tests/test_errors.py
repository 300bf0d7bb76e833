"""Errors: files that cannot be read raise ProfileReadError with its parts, bad words a ValueError
naming the allowed ones, wrong types a TypeError; nothing is half done."""

import pickle

import pytest

import zel_profile
from conftest import EXAMPLE


def test_unreadable_profiles_raise_profile_read_error(tmp_path):
    missing = tmp_path / "missing.json"
    with pytest.raises(zel_profile.ProfileReadError) as raised:
        zel_profile.read(missing)
    assert isinstance(raised.value, ValueError)
    assert raised.value.source == str(missing)
    assert raised.value.json_path == ""
    assert "cannot open" in raised.value.problem

    bad = tmp_path / "bad.json"
    bad.write_text(EXAMPLE.read_text().replace('"clock_hz": 1330000000', '"clock_hz": -1', 1))
    with pytest.raises(zel_profile.ProfileReadError) as raised:
        zel_profile.read(bad)
    assert (raised.value.source, raised.value.json_path) == (str(bad), "clock_hz")
    assert str(raised.value) == f"{bad}: clock_hz: {raised.value.problem}"
    # The attributes travel with the error, as from a cluster's worker.
    copy = pickle.loads(pickle.dumps(raised.value))
    assert (copy.source, copy.json_path, copy.problem) == (
        raised.value.source, raised.value.json_path, raised.value.problem)

    with pytest.raises(zel_profile.ProfileReadError):
        zel_profile.query_files([EXAMPLE, bad])


def test_bad_words_raise_value_error_naming_the_allowed_ones():
    profile = zel_profile.read(EXAMPLE)
    cases = [
        ({"group_by": "kernels"}, "group_by: expected one of kind|kernel|operation|phase|tile|metadata"),
        ({"sort_by": "cycles"}, "sort_by: expected one of phase-cycles|work-cycles|maximum-cycles|samples|name"),
        ({"kind": "Compute"}, "kind: expected one of exchange|compute|synchronization|idle"),
        ({"tiles": [-1]}, "tiles: expected a whole number from 0 to 4294967295"),
        ({"phases": [2**32]}, "phases: expected a whole number from 0 to 4294967295"),
        ({"threads": 0}, "threads: expected a whole number from 1"),
        ({"group_by": "metadata"}, "metadata_key"),
        ({"metadata_key": "block"}, "metadata_key"),
        ({"window": (5, 5)}, "window: expected from below to"),
        ({"clip": True, "at": 5}, "clip needs a window: window"),
        ({"window": (-1, None)}, "window: expected a whole number from 0 to 18446744073709551615"),
    ]
    for keywords, message in cases:
        for call in (lambda: zel_profile.query(profile, **keywords),
                     lambda: zel_profile.query_files([EXAMPLE], **keywords)):
            with pytest.raises(ValueError) as raised:
                call()
            assert message in str(raised.value), keywords
            assert not isinstance(raised.value, zel_profile.ProfileReadError)

    for keywords in ({"tiles": ["4"]}, {"tiles": 4}, {"limit": 2.0}, {"samples": True},
                     {"kind": 1}, {"metadata": "block"}, {"tiles": [None]},
                     {"phases": [1, None]}, {"metadata": [None]}, {"window": 5},
                     {"window": (1,)}, {"window": ("1", 2)}, {"window": "12"}):
        with pytest.raises(TypeError):
            zel_profile.query(profile, **keywords)
    # Text Python holds but UTF-8 cannot encode is a bad value, not a crash.
    for keywords in ({"kernel": "\ud800"}, {"metadata": ["block=\udfff"]},
                     {"group_by": "metadata", "metadata_key": "\ud800"}):
        with pytest.raises(ValueError, match="UTF-8"):
            zel_profile.query(profile, **keywords)
    with pytest.raises(TypeError):
        zel_profile.query(profile, group="kernel")
    with pytest.raises(ValueError, match="no profiles"):
        zel_profile.query([])


def test_profiles_of_different_clock_rates_are_not_queried_together(tmp_path):
    fast = tmp_path / "fast.json"
    fast.write_text(EXAMPLE.read_text().replace('"clock_hz": 1330000000', '"clock_hz": 2', 1))
    profiles = [zel_profile.read(EXAMPLE), zel_profile.read(fast)]
    with pytest.raises(ValueError, match="different clock rates"):
        zel_profile.query(profiles)
    with pytest.raises(ValueError, match="different clock rates"):
        zel_profile.query_files([EXAMPLE, fast])


def test_malformed_partial_bytes_are_refused():
    partial = zel_profile.partial_query(zel_profile.read(EXAMPLE), samples=3)
    data = partial.to_bytes()
    assert zel_profile.PartialQuery.from_bytes(data) == partial
    for cut in range(len(data)):
        with pytest.raises(ValueError):
            zel_profile.PartialQuery.from_bytes(data[:cut])
