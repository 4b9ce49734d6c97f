"""Content models: browser mode, handler-driven switching and their errors.

The states themselves are checked by the html5lib suite from every initial
state it lists (test_html5lib.py).
"""

from pathlib import Path

import htmltess
import pytest
from recording import Recorder

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus" / "web"


def without_errors(recorder):
    return [event for event in recorder.tokens() if event != ("ParseError",)]


def browser(document, text=True, **options):
    recorder = Recorder()
    if not text:
        recorder.OnText = len  # characters unrecorded, in runs: a large page stays cheap
    htmltess.html_parse_string(recorder, document, content_model="browser", **options)
    return without_errors(recorder)


def start(name, self_closing=False):
    return ("StartTag", name, {}, self_closing)


@pytest.mark.parametrize(
    "document, expected",
    [
        ("<title>a<b>&amp;</title>", [start("title"), ("Character", "a<b>&"), ("EndTag", "title")]),
        (
            "<textarea/><p></TEXTAREA >",
            [start("textarea", True), ("Character", "<p>"), ("EndTag", "textarea")],
        ),
        (
            "<style>&amp;<!--</styles></style>",
            [start("style"), ("Character", "&amp;<!--</styles>"), ("EndTag", "style")],
        ),
        ("<xmp><a>", [start("xmp"), ("Character", "<a>")]),
        ("<iframe><a>", [start("iframe"), ("Character", "<a>")]),
        ("<noembed><a>", [start("noembed"), ("Character", "<a>")]),
        ("<noframes><a>", [start("noframes"), ("Character", "<a>")]),
        ("<noscript><a>", [start("noscript"), ("Character", "<a>")]),
        (
            "<script><!--<script></script>--></script>",
            [start("script"), ("Character", "<!--<script></script>-->"), ("EndTag", "script")],
        ),
        ("<plaintext></plaintext><a>", [start("plaintext"), ("Character", "</plaintext><a>")]),
        # Foreign content: no switch, and CDATA sections.
        (
            "<svg><style><a/></style></svg><style><a>",
            [
                start("svg"),
                start("style"),
                start("a", True),
                ("EndTag", "style"),
                ("EndTag", "svg"),
                start("style"),
                ("Character", "<a>"),
            ],
        ),
        (
            "<math><title><![CDATA[<a>]]></title>",
            [start("math"), start("title"), ("Character", "<a>"), ("EndTag", "title")],
        ),
        (
            "<svg><svg></svg><title><b>",
            [start("svg"), start("svg"), ("EndTag", "svg"), start("title"), start("b")],
        ),
        ("<svg/><title><b>", [start("svg", True), start("title"), ("Character", "<b>")]),
        ("<svg><p><title><b>", [start("svg"), start("p"), start("title"), ("Character", "<b>")]),
        ("<math></p><title><b>", [start("math"), ("EndTag", "p"), start("title"), ("Character", "<b>")]),
        (
            "<svg><font color=red><title><b>",
            [
                start("svg"),
                ("StartTag", "font", {"color": "red"}, False),
                start("title"),
                ("Character", "<b>"),
            ],
        ),
        ("<svg><font><title><b>", [start("svg"), start("font"), start("title"), start("b")]),
        ("<![CDATA[x]]>", [("Comment", "[CDATA[x]]")]),
    ],
)
def test_browser_mode_switches_after_start_tags_outside_foreign_content(document, expected):
    assert browser(document) == expected


def test_noscript_is_markup_without_scripting():
    assert browser("<noscript><a>", scripting=False) == [start("noscript"), start("a")]


class Switching(Recorder):
    """Switches to the content model given for a tag name, and allows CDATA at a comment."""

    def __init__(self, models):
        super().__init__()
        self.models = models

    def OnStartTag(self, name, attributes, self_closing):
        super().OnStartTag(name, attributes, self_closing)
        if name in self.models:
            self.set_content_model(self.models[name])

    def OnComment(self, text):
        super().OnComment(text)
        self.allow_cdata(text == "foreign")


@pytest.mark.parametrize(
    "models, document, expected",
    [
        ({"x": "rcdata"}, "<x>&lt;<y></x>", [start("x"), ("Character", "<<y>"), ("EndTag", "x")]),
        ({"x": "rawtext"}, "<x>&lt;</y></x>", [start("x"), ("Character", "&lt;</y>"), ("EndTag", "x")]),
        ({"x": "script"}, "<x><!--</x>", [start("x"), ("Character", "<!--"), ("EndTag", "x")]),
        ({"x": "plaintext"}, "<x></x>", [start("x"), ("Character", "</x>")]),
        ({"title": "data"}, "<title><b>", [start("title"), start("b")]),
        (
            {},
            "<!--foreign--><![CDATA[<a>]]><!----><![CDATA[x]]>",
            [("Comment", "foreign"), ("Character", "<a>"), ("Comment", ""), ("Comment", "[CDATA[x]]")],
        ),
    ],
)
def test_a_handler_switches_content_models(models, document, expected):
    recorder = Switching(models)
    htmltess.html_parse_string(recorder, document)
    assert without_errors(recorder) == expected


def test_the_handler_wins_over_browser_mode():
    recorder = Switching({"title": "data"})
    htmltess.html_parse_string(recorder, "<title><b>", content_model="browser")
    assert without_errors(recorder) == [start("title"), start("b")]


def call_from(callback, method, *args):
    """The exception of handler.method(*args) called from a callback (None outside a parse)."""
    handler = Recorder()
    caught = []

    def call(*_):
        try:
            getattr(handler, method)(*args)
        except Exception as error:  # noqa: BLE001 - the test inspects it
            caught.append(error)

    if callback is None:
        call()
    else:
        setattr(handler, callback, call)
        htmltess.html_parse_string(handler, "<a>x<!---->")
    return caught[0] if caught else None


@pytest.mark.parametrize(
    "callback, method, args, error, message",
    [
        (None, "set_content_model", ("rcdata",), RuntimeError, "during a parse"),
        (None, "allow_cdata", (True,), RuntimeError, "during a parse"),
        ("OnChar", "set_content_model", ("rcdata",), RuntimeError, "only be called from OnStartTag"),
        ("OnStartTag", "set_content_model", ("RCDATA",), ValueError, "'rcdata'"),
        ("OnStartTag", "set_content_model", (b"rcdata",), TypeError, "must be str"),
    ],
)
def test_switching_outside_its_place_raises(callback, method, args, error, message):
    raised = call_from(callback, method, *args)
    assert isinstance(raised, error) and message in str(raised)


def test_allow_cdata_from_any_callback_is_accepted():
    assert call_from("OnComment", "allow_cdata", True) is None


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"content_model": "xml"}, ValueError, "content_model must be one of 'none', 'browser', not 'xml'"),
        ({"initial_state": "RCDATA"}, ValueError, "initial_state must be one of"),
        ({"last_start_tag": 1}, TypeError, "last_start_tag must be str or None"),
        ({"mode": "browser"}, TypeError, "mode"),
    ],
)
def test_bad_options_raise_before_parsing(options, error, message):
    for parse in htmltess.html_parse_string, htmltess.html_parse_file:
        with pytest.raises(error, match=message):
            parse(htmltess.HtmlHandler(), "x", **options)


def test_initial_state_and_last_start_tag(tmp_path):
    (tmp_path / "doc.html").write_text("<a>")
    recorder = Recorder()
    htmltess.html_parse_file(recorder, tmp_path / "doc.html", initial_state="PLAINTEXT state")
    assert recorder.tokens() == [("Character", "<a>")]
    recorder = Recorder()
    htmltess.html_parse_string(recorder, "a</TITLE>b", initial_state="RCDATA state", last_start_tag="Title")
    assert recorder.tokens() == [("Character", "a"), ("EndTag", "title"), ("Character", "b")]


TEXT_ELEMENTS = {"script", "style", "textarea", "title"}


@pytest.mark.skipif(not CORPUS.is_dir(), reason="corpus not available")
def test_browser_mode_reports_no_markup_inside_text_elements_of_the_corpus():
    checked = 0
    for page in sorted(CORPUS.glob("*.html")):
        events = browser(page.read_bytes(), text=False)
        foreign = 0  # unclosed svg and math elements: at least as many levels as the rules track
        for event, after in zip(events, events[1:] + [("EOF",)]):
            if event[0] == "StartTag" and event[1] in ("svg", "math") and not event[3]:
                foreign += 1
            elif event[0] == "EndTag" and event[1] in ("svg", "math"):
                foreign = max(foreign - 1, 0)
            if event[0] == "StartTag" and event[1] in TEXT_ELEMENTS and not foreign:
                assert after in (("EndTag", event[1]), ("EOF",)), (page.name, event, after)
                checked += 1
    assert checked > 1000
