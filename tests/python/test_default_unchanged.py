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
from inputs import HTML5LIB, PAGES
from recording import Recorder

DIGESTS = Path(__file__).with_name("default_digests.json")


class Digest(Recorder):
    def __init__(self) -> None:
        super().__init__()
        self.hash = hashlib.sha256()

    def record(self, event: tuple) -> None:
        # JSON escapes every non-ASCII character alike on every Python version (repr does not).
        self.hash.update(json.dumps(event).encode("ascii"))


def documents():
    """(name, list of documents) for each corpus page and html5lib test file."""
    for page in PAGES:
        yield page.name, [page.read_bytes()]
    for path in sorted(HTML5LIB.glob("*.test")):
        yield (
            path.name,
            [test["input"] for test in json.loads(path.read_text(encoding="utf-8")).get("tests", [])],
        )


def digest(inputs) -> str:
    handler = Digest()
    for document in inputs:
        htmltess.html_parse_string(handler, document)
    return handler.hash.hexdigest()


RECORDED = json.loads(DIGESTS.read_text(encoding="utf-8"))
CASES = [case for case in documents() if case[0] in RECORDED]


@pytest.mark.parametrize("name, inputs", CASES, ids=[case[0] for case in CASES])
def test_default_callbacks_are_unchanged(name, inputs):
    assert digest(inputs) == RECORDED[name]


if __name__ == "__main__":
    DIGESTS.write_text(json.dumps({name: digest(inputs) for name, inputs in documents()}, indent=0) + "\n")
