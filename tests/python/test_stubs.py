"""The type stubs: they describe the module as it is, and mypy checks handlers against them."""

import ast
import os
import pathlib
import re
import shutil
import subprocess
import sys

import htmltess
import pytest

pytest.importorskip("mypy")

STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "htmltess-stubs" / "__init__.pyi"

GOOD = """
import mmap
import pathlib
from typing import Optional

import htmltess


class Collector(htmltess.HtmlHandler):
    def __init__(self) -> None:
        self.text: list[str] = []
        self.tags: list[tuple[str, dict[str, str], bool]] = []

    def OnDoctype(self, name: Optional[str], public: Optional[str], system: Optional[str]) -> None:
        pass

    def OnStartTag(self, tag: str, attrs: dict[str, str], self_closing: bool) -> None:
        self.tags.append((tag, dict(attrs), self_closing))

    def OnChar(self, c: str) -> None:
        self.text.append(c)


collector = Collector()
done: bool = htmltess.html_parse_string(collector, "<p>x</p>")
htmltess.html_parse_string(collector, b"x")
htmltess.html_parse_string(collector, bytearray(b"x"))
htmltess.html_parse_string(collector, memoryview(b"x"))
htmltess.html_parse_string(collector, mmap.mmap(-1, 1))
htmltess.html_parse_file(collector, "doc.html")
htmltess.html_parse_file(collector, b"doc.html")
htmltess.html_parse_file(htmltess.HtmlHandler(), pathlib.Path("doc.html"))
"""

# Each snippet holds one mistake that mypy must report on its last line.
BAD = {
    "handler_not_a_handler": 'htmltess.html_parse_string(object(), "x")',
    "text_not_a_document": "htmltess.html_parse_string(htmltess.HtmlHandler(), 42)",
    "path_not_a_path": "htmltess.html_parse_file(htmltess.HtmlHandler(), 42)",
    "keyword_argument": 'htmltess.html_parse_string(handler=htmltess.HtmlHandler(), text="x")',
    "override_with_wrong_type": "class H(htmltess.HtmlHandler):\n    def OnChar(self, c: int) -> None: ...",
    "doctype_fields_may_be_none": "class H(htmltess.HtmlHandler):\n"
    "    def OnDoctype(self, name: str, public: str, system: str) -> None: ...",
    "override_with_missing_argument": "class H(htmltess.HtmlHandler):\n"
    "    def OnStartTag(self, tag: str, attrs: dict[str, str]) -> None: ...",
    "result_is_a_bool": 'x: str = htmltess.html_parse_string(htmltess.HtmlHandler(), "")',
}


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """Runs mypy once over GOOD and every BAD snippet; maps each file name to its error lines."""
    root = tmp_path_factory.mktemp("mypy")
    # The stubs of this source tree, found before any installed copy.
    stubs = root / "stubs"
    stubs.mkdir()
    shutil.copy(STUBS, stubs / "htmltess.pyi")
    sources = root / "src"
    sources.mkdir()
    (sources / "good.py").write_text(GOOD)
    for name, snippet in BAD.items():
        (sources / f"{name}.py").write_text(f"import htmltess\n{snippet}\n")
    env = dict(os.environ, MYPYPATH=str(stubs))
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-error-summary",
            "--cache-dir",
            str(root / "cache"),
            ".",
        ],
        check=False,
        cwd=sources,
        env=env,
        capture_output=True,
        text=True,
    )
    assert result.returncode in (0, 1), result.stderr
    errors: dict[str, list[int]] = {}
    for line in result.stdout.splitlines():
        found = re.match(r"(\w+)\.py:(\d+): error:", line)
        if found:
            errors.setdefault(found[1], []).append(int(found[2]))
    return errors


def test_a_correct_handler_type_checks(mypy_errors):
    assert "good" not in mypy_errors


@pytest.mark.parametrize("name", BAD)
def test_mistakes_are_reported(mypy_errors, name):
    last_line = 1 + BAD[name].count("\n") + 1
    assert last_line in mypy_errors.get(name, [])


def stub_tree():
    return ast.parse(STUBS.read_text())


def test_the_stubs_name_what_the_module_offers():
    tree = stub_tree()
    stubbed = {node.name for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    assert stubbed == {name for name in dir(htmltess) if not name.startswith("_")}
    (handler,) = [node for node in tree.body if isinstance(node, ast.ClassDef)]
    methods = {node.name for node in handler.body if isinstance(node, ast.FunctionDef)}
    assert methods == {name for name in dir(htmltess.HtmlHandler) if name.startswith("On")}
