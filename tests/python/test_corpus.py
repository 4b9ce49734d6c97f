"""Real web pages give the same events from bytes, from a file and from a str."""

from functools import partial
from pathlib import Path

import htmltess
import pytest

REPO_ROOT = Path(__file__).resolve().parents[2]
CORPUS = REPO_ROOT.parent / "shared" / "corpus" / "web"
PAGES = sorted(CORPUS.glob("*.html")) if CORPUS.is_dir() else []
EOF = ("EOF",)


class CompactRecorder(htmltess.HtmlHandler):
    """Records characters as str and every other event as a tuple. The callbacks
    that run per character or per error are the list's own append, bound on the
    instance, so recording a large page stays cheap."""

    def __init__(self):
        self.events = []
        self.OnChar = self.events.append
        self.OnParseError = partial(self.events.append, None)

    def OnDoctype(self, name, public_id, system_id):
        self.events.append(("DOCTYPE", name, public_id, system_id))

    def OnStartTag(self, name, attributes, self_closing):
        self.events.append(("StartTag", name, tuple(attributes.items()), self_closing))

    def OnEndTag(self, name):
        self.events.append(("EndTag", name))

    def OnComment(self, text):
        self.events.append(("Comment", text))

    def OnEof(self):
        self.events.append(EOF)


def record(parse, handler_input):
    recorder = CompactRecorder()
    assert parse(recorder, handler_input) is True
    assert recorder.events.count(EOF) == 1 and recorder.events[-1] == EOF
    return recorder.events


@pytest.mark.skipif(not PAGES, reason="corpus not present")
@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_page_gives_the_same_events_from_every_source(page):
    data = page.read_bytes()
    from_bytes = record(htmltess.html_parse_string, data)
    assert record(htmltess.html_parse_file, str(page)) == from_bytes
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return
    assert record(htmltess.html_parse_string, text) == from_bytes
