"""File names as open() takes them: a NUL byte is a ValueError for every call that takes a path,
and a name that is not UTF-8 (bytes or surrogate-escaped str, as os.listdir gives it) reads and
writes its file, a damaged one raising ProfileReadError that quotes it."""

import os
from pathlib import Path

import pytest

import zel_profile
from conftest import EXAMPLE

NOT_UTF8 = b"\xff\xfe run"


def path_calls(profile):
    """Every public call that takes a file name, as a function of that name."""
    return {
        "read": zel_profile.read,
        "write json": lambda path: zel_profile.write(profile, path),
        "query_files": lambda path: zel_profile.query_files([path], group_by="profile"),
    }


def test_a_nul_byte_in_a_path_is_a_value_error_and_touches_no_file(tmp_path):
    profile = zel_profile.read(EXAMPLE)
    good = tmp_path / "good.json"
    zel_profile.write(profile, good)
    before = sorted(os.listdir(tmp_path))
    for name, call in path_calls(profile).items():
        for path in (f"{good}\0/x.json", os.fsencode(good) + b"\0/x.json", f"{tmp_path}/out\0.json"):
            with pytest.raises(ValueError, match="embedded null byte") as raised:
                call(path)
            assert not isinstance(raised.value, zel_profile.ProfileReadError), (name, path)
    assert sorted(os.listdir(tmp_path)) == before


def test_names_that_are_not_utf8_read_write_and_name_their_damage(tmp_path):
    profile = zel_profile.read(EXAMPLE)
    expected = zel_profile.query(profile, group_by="kernel")
    folder = os.fsencode(tmp_path)
    for suffix in (b".json", b".zprof"):
        raw = folder + b"/" + NOT_UTF8 + suffix
        # As os.listdir gives the name for a bytes and for a str folder, and as a Path.
        spellings = (raw, os.fsdecode(raw), Path(os.fsdecode(raw)))
        for spelling in spellings:
            zel_profile.write(profile, spelling)
            assert zel_profile.query(zel_profile.read(spelling), group_by="kernel").groups[0].name \
                == expected.groups[0].name
            report = zel_profile.query_files([spelling], group_by="profile")
            assert [group.name for group in report.groups] == [
                raw.decode("utf-8", "backslashreplace")]
        assert os.listdir(folder).count(NOT_UTF8 + suffix) == 1

        damaged = folder + b"/damaged " + NOT_UTF8 + suffix
        with open(damaged, "wb") as out:
            out.write(open(raw, "rb").read()[:-7])
        for spelling in (damaged, os.fsdecode(damaged)):
            for call in (zel_profile.read, lambda path: zel_profile.query_files([path])):
                with pytest.raises(zel_profile.ProfileReadError) as raised:
                    call(spelling)
                assert raised.value.source == os.fsdecode(damaged)
                assert "\\xff\\xfe run" in str(raised.value)

    # A file that cannot be written names itself the same way.
    with pytest.raises(RuntimeError, match=r"cannot write .*\\xff\\xfe run"):
        zel_profile.write(profile, folder + b"/" + NOT_UTF8 + b"/missing.json")
