"""The default mode reports exactly the callbacks it did before content models existed.

default_digests.json holds, per corpus page and per html5lib test file, a
SHA-256 of every callback with its arguments, recorded from the tokenizer as it
was before the text states were added (run this file as a script to record).
"""

from __future__ import annotations

import hashlib
import json
from pathlib import Path

import htmltess
import pytest
from recording import Recorder

HERE = Path(__file__).resolve().parent
SHARED = HERE.parents[2] / "shared"
DIGESTS = HERE / "default_digests.json"


class Digest(Recorder):
    def __init__(self) -> None:
        super().__init__()
        self.hash = hashlib.sha256()

    def record(self, event: tuple) -> None:
        # JSON escapes every non-ASCII character alike on every Python version (repr does not).
        self.hash.update(json.dumps(event).encode("ascii"))


def documents():
    """(name, list of documents) for each corpus page and html5lib test file."""
    for page in sorted((SHARED / "corpus" / "web").glob("*.html")):
        yield page.name, [page.read_bytes()]
    for path in sorted((SHARED / "html5lib-tests" / "tokenizer").glob("*.test")):
        tests = json.loads(path.read_text(encoding="utf-8")).get("tests", [])
        yield path.name, [test["input"] for test in tests]


def digest(inputs) -> str:
    handler = Digest()
    for document in inputs:
        htmltess.html_parse_string(handler, document)
    return handler.hash.hexdigest()


RECORDED = json.loads(DIGESTS.read_text(encoding="utf-8")) if DIGESTS.exists() else {}
CASES = [case for case in documents() if case[0] in RECORDED]


@pytest.mark.skipif(not CASES, reason="corpus and html5lib-tests not present")
@pytest.mark.parametrize("name, inputs", CASES, ids=[case[0] for case in CASES])
def test_default_callbacks_are_unchanged(name, inputs):
    assert digest(inputs) == RECORDED[name]


if __name__ == "__main__":
    DIGESTS.write_text(json.dumps({name: digest(inputs) for name, inputs in documents()}, indent=0) + "\n")
