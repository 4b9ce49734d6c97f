"""The checked-in table of named character references is what its tool generates."""

import importlib.util
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_checked_in_table_is_what_the_tool_generates():
    loader_spec = importlib.util.spec_from_file_location("gen", ROOT / "tools" / "gen_named_char_refs.py")
    tool = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(tool)
    assert (ROOT / "html" / "named_char_refs.cpp").read_text(encoding="utf-8") == tool.generate()
