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
import mmap, pathlib
from typing import Optional

class Collector(htmltess.HtmlHandler):
    def OnDoctype(self, name: Optional[str], public: Optional[str], system: Optional[str]) -> None: ...
    def OnStartTag(self, tag: str, attrs: dict[str, str], self_closing: bool) -> None: ...
    def OnChar(self, c: str) -> None:
        start, end = self.span()
        line, column = self.position()

done: bool = htmltess.html_parse_string(Collector(), "<p>x</p>")
htmltess.html_parse_string(Collector(), "x", content_model="browser", scripting=False)
htmltess.html_parse_file(Collector(), "doc.html", initial_state="RCDATA state", last_start_tag="title")
for text in (b"x", bytearray(b"x"), memoryview(b"x"), mmap.mmap(-1, 1)):
    htmltess.html_parse_string(htmltess.HtmlHandler(), text)
for path in ("doc.html", b"doc.html", pathlib.Path("doc.html")):
    htmltess.html_parse_file(htmltess.HtmlHandler(), path)
with htmltess.Parser(Collector(), content_model="browser") as parser:
    parser.feed(b"<p>")
closed: bool = htmltess.Parser(Collector()).close()
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
    "unknown_content_model": 'htmltess.html_parse_string(htmltess.HtmlHandler(), "", content_model="xml")',
    "feed_not_a_document": "htmltess.Parser(htmltess.HtmlHandler()).feed(42)",
}


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """Runs mypy once over GOOD and every BAD snippet; maps each file name to its error lines."""
    root = tmp_path_factory.mktemp("mypy")
    shutil.copy(STUBS, root / "htmltess.pyi")  # this tree's stubs, found before any installed copy
    for name, snippet in {"good": GOOD, **BAD}.items():
        (root / f"{name}.py").write_text(f"import htmltess\n{snippet}\n")
    command = [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", "cache", "."]
    env = dict(os.environ, MYPYPATH=str(root))
    result = subprocess.run(command, check=False, cwd=root, env=env, capture_output=True, text=True)
    assert result.returncode in (0, 1), result.stderr
    errors: dict[str, list[int]] = {}
    for found in re.finditer(r"^(\w+)\.py:(\d+): error:", result.stdout, re.MULTILINE):
        errors.setdefault(found[1], []).append(int(found[2]))
    return errors


@pytest.mark.parametrize("name", ["good", *BAD])
def test_mypy_reports_the_mistakes(mypy_errors, name):
    lines = mypy_errors.get(name, [])
    assert 2 + BAD[name].count("\n") in lines if name in BAD else lines == []


WITH_BLOCK = {"__enter__", "__exit__"}


def test_the_stubs_name_what_the_module_offers():
    tree = ast.parse(STUBS.read_text())
    stubbed = {node.name for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    stubbed |= {target.id for node in tree.body if isinstance(node, ast.Assign) for target in node.targets}
    stubbed |= {node.target.id for node in tree.body if isinstance(node, ast.AnnAssign)}
    stubbed = {name for name in stubbed if not name.startswith("_") or name.startswith("__")}  # no aliases
    public = {name for name in dir(htmltess) if not name.startswith("_")}  # _JsonLinesWriter is the command's
    assert stubbed == public | {"__version__"}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):  # its public methods, and the context manager's
            methods = {item.name for item in node.body if isinstance(item, ast.FunctionDef)} - {"__init__"}
            offered = set(dir(getattr(htmltess, node.name)))
            assert methods == {name for name in offered if not name.startswith("_")} | (offered & WITH_BLOCK)
