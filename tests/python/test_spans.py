"""span() and position(): the tokens' spans tile every input, whatever its kind, and position() is the
line and column of a span's start. Pages give the same tokens from bytes, a file and a str, text in runs
or one by one."""

from __future__ import annotations

import bisect
import re
import types

import htmltess
import pytest
from inputs import PAGES, VENDORED_PAGES, html5lib_documents
from recording import merge_characters


class Spans(htmltess.HtmlHandler):
    """Records (kind, fields, span, position) of every token; text arrives in runs."""

    def __init__(self) -> None:
        self.tokens: list[tuple] = []

    def record(self, kind: str, *fields) -> None:
        self.tokens.append((kind, fields, self.span(), self.position()))

    def OnDoctype(self, name, public_id, system_id):
        self.record("DOCTYPE", name, public_id, system_id)

    def OnStartTag(self, name, attributes, self_closing):
        self.record("StartTag", name, dict(attributes), self_closing)

    def OnEndTag(self, name):
        self.record("EndTag", name)

    def OnComment(self, text):
        self.record("Comment", text)

    def OnText(self, text):
        self.record("Text", text)

    def OnEof(self):
        self.record("EOF")


class CharSpans(Spans):
    """Spans takes characters one by one."""

    OnText = htmltess.HtmlHandler.OnText

    def OnChar(self, char):
        self.record("Character", char)


class Lines:
    """Line and column of each index of a text: lines end at LF, CR LF and a lone CR."""

    def __init__(self, text: str) -> None:
        self.starts = [0] + [match.end() for match in re.finditer(r"\r\n|\r|\n", text)]

    def position(self, index: int) -> tuple[int, int]:
        line = bisect.bisect_right(self.starts, index)
        return line, index - self.starts[line - 1] + 1


def assert_tiled(tokens: list[tuple], source) -> None:
    """The spans follow each other from the start; only an unfinished tag may be left at the end."""
    end = 0
    for kind, _, (start, stop), _ in tokens[:-1]:
        assert (start, kind) == (end, kind) and stop >= start
        end = stop
    assert tokens[-1][0] == "EOF" and tokens[-1][2] == (len(source), len(source))
    assert end == len(source) or source[end : end + 1] in ("<", b"<")


def spans_of(document, parse=htmltess.html_parse_string, handler_type=Spans) -> list[tuple]:
    handler = handler_type()
    parse(handler, document)
    return handler.tokens


def without_spans(tokens: list[tuple]) -> list[tuple]:
    """The tokens with adjacent text merged, as Recorder.tokens() gives them."""
    return merge_characters([(kind, *fields) for kind, fields, _, _ in tokens])


@pytest.mark.parametrize("kind", ["bytes", "file", "str"])
@pytest.mark.parametrize("page", PAGES, ids=[page.name for page in PAGES])
def test_spans_tile_every_page(page, kind):
    data = page.read_bytes()
    source = data.decode("utf-8", "replace") if kind == "str" else data
    tokens = spans_of(page, htmltess.html_parse_file) if kind == "file" else spans_of(source)
    assert_tiled(tokens, source)
    if kind == "str":
        lines = Lines(source)
        assert [token[3] for token in tokens] == [lines.position(token[2][0]) for token in tokens]
        if source.encode() == data:  # valid UTF-8: the tokens from bytes, but for the spans
            assert [(k, f, p) for k, f, _, p in tokens] == [(k, f, p) for k, f, _, p in spans_of(data)]
    if kind == "file":  # read through a buffer, and again for positions: as from memory
        assert tokens == spans_of(data)
    if kind == "bytes" and page in VENDORED_PAGES:  # the html5lib harness does so on shorter inputs
        assert without_spans(tokens) == without_spans(spans_of(data, handler_type=CharSpans))


def test_spans_of_characters_one_by_one():
    """Each character's source is itself, or the reference or the markup it stands for."""
    for document in dict.fromkeys(document for document, _ in html5lib_documents()):
        handler = CharSpans()
        htmltess.html_parse_string(handler, document)
        assert_tiled(handler.tokens, document)
        lines = Lines(document)
        for kind, text, (start, stop), position in handler.tokens:
            source = document[start:stop]
            assert kind != "Character" or source in (*text, "") or source[0] in "&<", (document, text, source)
            assert position == lines.position(start)


@pytest.mark.parametrize("document", ["é" * 70000 + "\r\n<a>", "<p>" + "a&amp;\n" * 30000])
@pytest.mark.parametrize("encode", [False, True])
def test_long_runs_arrive_in_pieces_with_their_own_spans(document, encode):
    handler = Spans()
    source = document.encode() if encode else document
    htmltess.html_parse_string(handler, source)
    assert_tiled(handler.tokens, source)
    runs = [(text[0], source[a:b]) for kind, text, (a, b), _ in handler.tokens if kind == "Text"]
    assert len(runs) == 2
    for text, piece in runs:
        assert (piece.decode() if encode else piece).replace("&amp;", "&") == text, "a piece's span is off"


def test_span_and_position_only_from_a_callback():
    handler = Spans()
    htmltess.html_parse_string(handler, "<a>")  # after the parse, as before it
    for method in (handler.span, handler.position):
        with pytest.raises(RuntimeError, match="from a callback"):
            method()


class Tag:
    def __init_subclass__(cls, tag: str = "", **kwargs) -> None:
        super().__init_subclass__(**kwargs)
        cls.tag = tag


def test_subclasses_keep_other_definitions_and_the_init_subclass_chain():
    deeper = type("Deeper", (type("Own", (Spans,), {"span": lambda self: "own"}),), {})
    tagged = types.new_class("Tagged", (Spans, Tag), {"tag": "t"})
    for handler, span in ((deeper(), "own"), (tagged(), (0, 3))):
        htmltess.html_parse_string(handler, "<a>")
        assert handler.tokens[0][2] == span
    assert tagged.tag == "t"
