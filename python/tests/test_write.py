"""write() stores a profile in either format; read() and query_files() take both and give the same
profile and the same report, and the tool reads what the module wrote."""

import pytest

import zel_profile
from conftest import assert_same, plain, tool_report

QUERY = {"group_by": "tile", "samples": 5}
OPTIONS = ["--group-by", "tile", "--samples", "5"]


def test_binary_and_text_round_trip_to_the_same_report(generated, tmp_path):
    profile = zel_profile.read(generated[0])
    binary, text = tmp_path / "run.zprof", tmp_path / "run.json"
    zel_profile.write(profile, binary)
    zel_profile.write(zel_profile.read(binary), text)
    assert binary.read_bytes().startswith(b"\x89ZPROF\r\n")
    assert text.read_bytes() == generated[0].read_bytes()
    # The binary is known by its bytes, not its name.
    renamed = tmp_path / "run.data"
    renamed.write_bytes(binary.read_bytes())
    whole = zel_profile.query(profile, **QUERY)
    for path in (binary, renamed):
        again = zel_profile.read(path)
        assert again.sample_count == profile.sample_count
        assert zel_profile.query(again, **QUERY) == whole
    assert zel_profile.query_files([binary, text], **QUERY) == zel_profile.query_files(
        [generated[0], generated[0]], **QUERY)
    assert_same(plain(whole), tool_report([renamed], OPTIONS))


def test_damaged_binary_and_unwritable_paths_raise(generated, tmp_path):
    binary = tmp_path / "run.zprof"
    zel_profile.write(zel_profile.read(generated[1]), binary)
    data = bytearray(binary.read_bytes())
    data[-1] ^= 1
    binary.write_bytes(bytes(data))
    with pytest.raises(zel_profile.ProfileReadError) as raised:
        zel_profile.read(binary)
    assert raised.value.source == str(binary)
    assert raised.value.json_path.startswith("tiles[")
    with pytest.raises(RuntimeError, match="cannot write"):
        zel_profile.write(zel_profile.read(generated[1]), tmp_path / "missing" / "run.zprof")
