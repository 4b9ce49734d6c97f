"""The timed passes of the benchmark: one function per workload and implementation.

Every pass takes the list of pages (`Page`: the bytes and their decoded str) and does one full round of its
work over all of them; it returns what it collected, so nothing can be optimised away. The peers are used as
black boxes, through their public entry points (html5lib through its tokenizer class).
"""

from __future__ import annotations

import collections
import html.entities
import itertools
import os
import random
from dataclasses import dataclass
from html.parser import HTMLParser
from typing import Callable

import htmltess


@dataclass(frozen=True)
class Page:
    name: str
    path: str
    data: bytes
    text: str  # decoded with errors="replace", for the peers that take str


# ---------------------------------------------------------------------------------------------------------
# W1: every token, each callback kind counted.


class _TokenCounting(htmltess.HtmlHandler):
    """The six non-character callbacks of the counting handlers; the subclasses add the character one."""

    def __init__(self) -> None:
        self.errors = self.doctypes = self.starts = self.ends = self.comments = self.chars = self.eofs = 0

    def OnParseError(self):
        self.errors += 1

    def OnDoctype(self, name, public_id, system_id):
        self.doctypes += 1

    def OnStartTag(self, name, attributes, self_closing):
        self.starts += 1

    def OnEndTag(self, name):
        self.ends += 1

    def OnComment(self, text):
        self.comments += 1

    def OnEof(self):
        self.eofs += 1


class CountingHandler(_TokenCounting):
    """W1's handler: all seven callbacks overridden, each counting its calls."""

    def OnChar(self, char):
        self.chars += 1


class TextCountingHandler(_TokenCounting):
    """W1t's handler: characters arrive as runs through OnText."""

    def OnText(self, text):
        self.chars += 1


def htmltess_w1(pages: list[Page]) -> CountingHandler:
    handler = CountingHandler()
    for page in pages:
        htmltess.html_parse_string(handler, page.data)
    return handler


def htmltess_w1t(pages: list[Page], **options) -> TextCountingHandler:
    handler = TextCountingHandler()
    for page in pages:
        htmltess.html_parse_string(handler, page.data, **options)
    return handler


def htmltess_w1t_browser(pages: list[Page]) -> TextCountingHandler:
    return htmltess_w1t(pages, content_model="browser")


def htmltess_cli(pages: list[Page]) -> int:
    """The htmltess command's JSON Lines writer, as `htmltess FILE > /dev/null` runs it."""
    import htmltess_cli

    with open(os.devnull, "wb") as sink:
        for page in pages:
            htmltess.html_parse_string(
                htmltess_cli.json_lines_writer(sink), page.data, content_model="browser"
            )
        return sink.tell()


class CountingHTMLParser(HTMLParser):
    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.starts = self.ends = self.texts = self.comments = self.decls = self.pis = self.refs = 0

    def handle_starttag(self, tag, attrs):
        self.starts += 1

    def handle_endtag(self, tag):
        self.ends += 1

    def handle_startendtag(self, tag, attrs):
        self.starts += 1

    def handle_data(self, data):
        self.texts += 1

    def handle_comment(self, data):
        self.comments += 1

    def handle_decl(self, decl):
        self.decls += 1

    def handle_pi(self, data):
        self.pis += 1

    def handle_charref(self, name):
        self.refs += 1

    def handle_entityref(self, name):
        self.refs += 1


def html_parser_w1(pages: list[Page]) -> CountingHTMLParser:
    parser = CountingHTMLParser()
    for page in pages:
        parser.reset()
        parser.feed(page.text)
        parser.close()
    return parser


def _html5lib_tokens(text: str):
    from html5lib._tokenizer import HTMLTokenizer

    return HTMLTokenizer(text)


def html5lib_w1(pages: list[Page]) -> dict:
    counts: dict = collections.defaultdict(int)
    for page in pages:
        for token in _html5lib_tokens(page.text):
            counts[token["type"]] += 1
    return counts


class CountingTarget:
    """lxml parser target counting every event kind."""

    def __init__(self) -> None:
        self.starts = self.ends = self.texts = self.comments = self.doctypes = self.closes = 0

    def start(self, tag, attrib):
        self.starts += 1

    def end(self, tag):
        self.ends += 1

    def data(self, data):
        self.texts += 1

    def comment(self, text):
        self.comments += 1

    def doctype(self, name, public_id, system_id):
        self.doctypes += 1

    def close(self):
        self.closes += 1
        return self


def _lxml_feed(pages: list[Page], target) -> None:
    from lxml import etree

    parser = etree.HTMLParser(target=target, encoding="utf-8")
    for page in pages:
        parser.feed(page.data)
        parser.close()


def lxml_w1(pages: list[Page]) -> CountingTarget:
    target = CountingTarget()
    _lxml_feed(pages, target)
    return target


# ---------------------------------------------------------------------------------------------------------
# W2: tags only, (name, attributes) of every start tag collected. Each collects a dict it owns.


class StartTagCollector(htmltess.HtmlHandler):
    def __init__(self) -> None:
        self.tags: list[tuple[str, dict]] = []

    def OnStartTag(self, name, attributes, self_closing):
        # The bridge empties the dict after the call, so it is copied.
        self.tags.append((name, dict(attributes)))


def htmltess_w2(pages: list[Page], **options) -> list:
    handler = StartTagCollector()
    for page in pages:
        htmltess.html_parse_string(handler, page.data, **options)
    return handler.tags


def htmltess_w2_browser(pages: list[Page]) -> list:
    return htmltess_w2(pages, content_model="browser")


class StartTagAndErrorCollector(StartTagCollector):
    def __init__(self) -> None:
        super().__init__()
        self.errors: list[tuple[str, int, int]] = []

    def OnError(self, code, line, column):
        self.errors.append((code, line, column))


def htmltess_w2e(pages: list[Page]) -> list:
    handler = StartTagAndErrorCollector()
    for page in pages:
        htmltess.html_parse_string(handler, page.data)
    return handler.tags


class StartTagAndUnkeptErrorCollector(StartTagCollector):
    """Errors with their codes and positions reach the handler, which keeps none: what reporting them costs
    besides the handler's own work."""

    def OnError(self, code, line, column):
        pass


def htmltess_w2e_unkept(pages: list[Page]) -> list:
    handler = StartTagAndUnkeptErrorCollector()
    for page in pages:
        htmltess.html_parse_string(handler, page.data)
    return handler.tags


class StartTagSpanCollector(htmltess.HtmlHandler):
    def __init__(self) -> None:
        self.tags: list[tuple[str, dict, tuple[int, int]]] = []

    def OnStartTag(self, name, attributes, self_closing):
        self.tags.append((name, dict(attributes), self.span()))


def htmltess_w2s(pages: list[Page]) -> list:
    handler = StartTagSpanCollector()
    for page in pages:
        htmltess.html_parse_string(handler, page.data)
    return handler.tags


class StartTagUnkeptSpanCollector(StartTagCollector):
    """span() asked at every start tag and not kept: what it costs besides the handler's own work."""

    def OnStartTag(self, name, attributes, self_closing):
        self.span()
        self.tags.append((name, dict(attributes)))


def htmltess_w2s_unkept(pages: list[Page]) -> list:
    handler = StartTagUnkeptSpanCollector()
    for page in pages:
        htmltess.html_parse_string(handler, page.data)
    return handler.tags


class StartTagHTMLParser(HTMLParser):
    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.tags: list[tuple[str, dict]] = []

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))


def html_parser_w2(pages: list[Page]) -> list:
    parser = StartTagHTMLParser()
    for page in pages:
        parser.reset()
        parser.feed(page.text)
        parser.close()
    return parser.tags


def html5lib_w2(pages: list[Page]) -> list:
    from html5lib.constants import tokenTypes

    start_tag = tokenTypes["StartTag"]
    tags = []
    for page in pages:
        for token in _html5lib_tokens(page.text):
            if token["type"] == start_tag:
                tags.append((token["name"], token["data"]))
    return tags


class StartTagTarget:
    def __init__(self) -> None:
        self.tags: list[tuple[str, dict]] = []

    def start(self, tag, attrib):
        self.tags.append((tag, dict(attrib)))

    def close(self):
        return self


def lxml_w2(pages: list[Page]) -> list:
    target = StartTagTarget()
    _lxml_feed(pages, target)
    return target.tags


def _selectolax_parser():
    try:
        from selectolax.lexbor import LexborHTMLParser

        return LexborHTMLParser
    except ImportError:
        from selectolax.parser import HTMLParser as ModestHTMLParser

        return ModestHTMLParser


def selectolax_w2(pages: list[Page]) -> list:
    parse = _selectolax_parser()
    tags = []
    for page in pages:
        root = parse(page.data).root
        if root is None:
            continue
        for node in root.traverse():
            tag = node.tag
            # Comments and other non-element nodes carry names like "-comment" or "_comment".
            if tag[0] not in "-_":
                tags.append((tag, node.attributes))
    return tags


# ---------------------------------------------------------------------------------------------------------
# W3 companions: a whole tree per page, for scale beside the native floor.


def lxml_tree(pages: list[Page]) -> list:
    from lxml import etree

    parser = etree.HTMLParser(encoding="utf-8")
    return [etree.HTML(page.data, parser) for page in pages]


def selectolax_tree(pages: list[Page]) -> list:
    parse = _selectolax_parser()
    return [parse(page.data) for page in pages]


# ---------------------------------------------------------------------------------------------------------
# The call floors: the Python calls a workload's handler receives, made from C with prebuilt arguments.


@dataclass(frozen=True)
class PageCalls:
    """The calls a handler receives for one page, by method, each method's ready to be made from C in one go:
    (method name, map or starmap, arguments), map over the arguments of a one-argument method, starmap over
    argument tuples for the others."""

    by_method: list[tuple[str, Callable, list]]

    def count(self) -> int:
        return sum(len(arguments) for _, _, arguments in self.by_method)


def _overridden_callbacks(handler_class: type) -> list[str]:
    base = htmltess.HtmlHandler
    return [
        name
        for name in dir(base)
        if name.startswith("On") and getattr(handler_class, name) is not getattr(base, name)
    ]


def _recording(method: str) -> Callable:
    def record(self, *arguments):
        # The bridge empties the attributes dict after the call: the recording keeps a copy of it.
        self.calls[method].append(
            tuple(dict(value) if isinstance(value, dict) else value for value in arguments)
        )

    return record


def _page_calls(calls: dict[str, list[tuple]]) -> PageCalls:
    by_method = []
    for method, arguments in calls.items():
        if arguments and len(arguments[0]) == 1:
            by_method.append((method, map, [argument for (argument,) in arguments]))
        else:
            by_method.append((method, itertools.starmap, arguments))
    return PageCalls(by_method)


def record_calls(handler_class: type, pages: list[Page]) -> list[PageCalls]:
    """The calls an instance of `handler_class` receives for each page, with their arguments, as recorded by
    a handler that overrides the same callbacks (which callbacks are overridden decides which are made)."""
    methods = _overridden_callbacks(handler_class)
    recorder_class = type(
        "CallRecorder", (htmltess.HtmlHandler,), {name: _recording(name) for name in methods}
    )
    recorded = []
    for page in pages:
        recorder = recorder_class()
        recorder.calls = {name: [] for name in methods}
        htmltess.html_parse_string(recorder, page.data)
        recorded.append(_page_calls(recorder.calls))
    return recorded


def call_floor(handler_class: type, recorded: list[PageCalls]) -> htmltess.HtmlHandler:
    """Makes the recorded calls on a new `handler_class` handler from C (map/starmap drained by deque),
    page by page, each method's calls in a row."""
    handler = handler_class()
    drain = collections.deque
    for calls in recorded:
        for method, iteration, arguments in calls.by_method:
            drain(iteration(getattr(handler, method), arguments), 0)
    return handler


# ---------------------------------------------------------------------------------------------------------
# Entity-heavy input.

_PROSE = (
    "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor incididunt ut labore et "
    "dolore magna aliqua enim ad minim veniam quis nostrud exercitation ullamco laboris nisi aliquip ex ea "
    "commodo consequat duis aute irure in reprehenderit voluptate velit esse cillum fugiat nulla pariatur"
)
_WORDS = _PROSE.split()

_WORDS_PER_PARAGRAPH = 80


def entity_document(size: int, random_state: int = 5) -> bytes:
    """About `size` bytes of prose in which every word is followed by a named character reference.

    The names are drawn from the whole WHATWG table, each written with or without its semicolon at random,
    so the document mixes complete references, legacy ones without semicolon and names that only match
    as a prefix. The same random state gives the same document.
    """
    rng = random.Random(random_state)
    names = sorted({name.rstrip(";") for name in html.entities.html5})
    parts = ["<!DOCTYPE html>\n<html><head><title>references</title></head><body>\n<p>"]
    length = len(parts[0])
    words = 0
    while length < size:
        piece = f"{rng.choice(_WORDS)}&{rng.choice(names)}{rng.choice(('', ';'))} "
        words += 1
        if words % _WORDS_PER_PARAGRAPH == 0:
            piece += "</p>\n<p>"
        parts.append(piece)
        length += len(piece)
    parts.append("</p>\n</body></html>\n")
    return "".join(parts).encode("utf-8")


# ---------------------------------------------------------------------------------------------------------
# feed: one document fed to a Parser in pieces of a given size.


def feed_pieces(pages: list[Page], size: int, piece: int) -> list[bytes]:
    """The pages concatenated and cut to `size` bytes, in pieces of `piece` bytes."""
    document = b"".join(page.data for page in pages)[:size]
    return [document[start : start + piece] for start in range(0, len(document), piece)]


def _htmltess_fed(handler: htmltess.HtmlHandler, pieces: list[bytes]) -> htmltess.HtmlHandler:
    parser = htmltess.Parser(handler)
    collections.deque(
        map(parser.feed, pieces), maxlen=0
    )  # the calls made from C, as a feeding loop in C would
    parser.close()
    return handler


def htmltess_fed_w1(pieces: list[bytes]) -> CountingHandler:
    return _htmltess_fed(CountingHandler(), pieces)


def htmltess_fed_w1t(pieces: list[bytes]) -> TextCountingHandler:
    return _htmltess_fed(TextCountingHandler(), pieces)
