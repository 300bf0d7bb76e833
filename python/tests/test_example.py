"""examples/analyse.py runs and draws its chart."""

import subprocess
import sys

from conftest import EXAMPLE, SOURCE_DIR


def test_analyse_example_draws_a_png(tmp_path):
    chart = tmp_path / "chart.png"
    result = subprocess.run(
        [sys.executable, str(SOURCE_DIR / "examples" / "analyse.py"), str(EXAMPLE), str(chart)],
        capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert chart.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert chart.stat().st_size > 10000
    assert "gemm_f16" in result.stdout
