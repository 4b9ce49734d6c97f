"""Where the tests find their documents: the html5lib tokenizer tests and a few web pages vendored under
tests/, and, when the repository sits beside it, the larger corpus in ../shared for extra pages."""

import json
import re
from pathlib import Path

TESTS = Path(__file__).resolve().parents[1]
HTML5LIB = TESTS / "html5lib-tests" / "tokenizer"
EXTRA_CORPUS = TESTS.parents[1] / "shared" / "corpus" / "web"
VENDORED_PAGES = sorted(TESTS.glob("corpus/*.html"))
PAGES = VENDORED_PAGES + sorted(EXTRA_CORPUS.glob("*.html"))


def corpus_line() -> str:
    if EXTRA_CORPUS.is_dir():
        return f"corpus: {len(PAGES)} pages, extra pages from {EXTRA_CORPUS}"
    return f"corpus: {len(PAGES)} vendored pages only; {EXTRA_CORPUS} is absent"


def unescape(text: str) -> str:
    return re.sub(r"\\u([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)


def html5lib_documents() -> list[tuple[str, dict]]:
    """(document, options) of every html5lib tokenizer test and initial state, without repeats."""
    documents = {}
    for path in sorted(HTML5LIB.glob("*.test")):
        for test in json.loads(path.read_text(encoding="utf-8")).get("tests", []):
            document = test["input"]
            if test.get("doubleEscaped"):
                document = unescape(document)
            for state in test.get("initialStates", ["Data state"]):
                options = {} if state == "Data state" else {"initial_state": state}
                if "lastStartTag" in test:
                    options["last_start_tag"] = test["lastStartTag"]
                documents[document, tuple(sorted(options.items()))] = None
    return [(document, dict(options)) for document, options in documents]
