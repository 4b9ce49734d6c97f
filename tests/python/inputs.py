"""Where the tests find their documents: the html5lib tokenizer tests and a few web pages vendored under
tests/, and, when the repository sits beside it, the larger corpus in ../shared for extra pages."""

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
