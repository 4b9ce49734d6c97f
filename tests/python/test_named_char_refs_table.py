"""The checked-in table of named character references is what its tool generates, and the tool's check
mode tells a stale table."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "gen_named_char_refs.py"
TABLE = ROOT / "html" / "named_char_refs.cpp"


def test_checked_in_table_is_what_the_tool_generates():
    loader_spec = importlib.util.spec_from_file_location("gen_named_char_refs", TOOL)
    tool = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(tool)
    assert TABLE.read_text(encoding="utf-8") == tool.generate()


# An unchanged copy passes the check; a copy with one code point changed fails it.
@pytest.mark.parametrize("old, new, status", [("", "", 0), ("0x2233", "0x2232", 1)])
def test_check_mode_reports_a_stale_table(tmp_path, old, new, status):
    copy = tmp_path / "named_char_refs.cpp"
    copy.write_text(TABLE.read_text(encoding="utf-8").replace(old, new), encoding="utf-8")
    result = subprocess.run(
        [sys.executable, TOOL, "--check", copy], check=False, capture_output=True, text=True
    )
    assert result.returncode == status, result.stderr
