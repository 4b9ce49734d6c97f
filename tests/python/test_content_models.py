"""Content models: browser mode, handler-driven switching and their errors.

The states themselves are checked by the html5lib suite from every initial
state it lists (test_html5lib.py).
"""

from contextlib import nullcontext

import htmltess
import pytest
from inputs import EXTRA_CORPUS
from recording import PE, C, E, Recorder, S, tokens


def without_errors(events):
    return [event for event in events if event != PE]


@pytest.mark.parametrize(
    "document, expected",
    [
        ("<title>a<b>&amp;</title>", [S("title"), C("a<b>&"), E("title")]),
        ("<textarea/><p></TEXTAREA >", [S("textarea", None, True), C("<p>"), E("textarea")]),
        ("<style>&amp;<!--</styles></style>", [S("style"), C("&amp;<!--</styles>"), E("style")]),
        *[(f"<{n}><a>", [S(n), C("<a>")]) for n in ["xmp", "iframe", "noembed", "noframes", "noscript"]],
        (
            "<script><!--<script></script>--></script>",
            [S("script"), C("<!--<script></script>-->"), E("script")],
        ),
        ("<plaintext></plaintext><a>", [S("plaintext"), C("</plaintext><a>")]),
        # Foreign content: no switch, and CDATA sections.
        (
            "<svg><style><a/></style></svg><style><a>",
            [S("svg"), S("style"), S("a", None, True), E("style"), E("svg"), S("style"), C("<a>")],
        ),
        ("<math><title><![CDATA[<a>]]></title>", [S("math"), S("title"), C("<a>"), E("title")]),
        ("<svg><svg></svg><title><b>", [S("svg"), S("svg"), E("svg"), S("title"), S("b")]),
        ("<svg/><title><b>", [S("svg", None, True), S("title"), C("<b>")]),
        ("<svg><p><title><b>", [S("svg"), S("p"), S("title"), C("<b>")]),
        ("<math></p><title><b>", [S("math"), E("p"), S("title"), C("<b>")]),
        ("<svg><font color=red><title><b>", [S("svg"), S("font", {"color": "red"}), S("title"), C("<b>")]),
        ("<svg><font><title><b>", [S("svg"), S("font"), S("title"), S("b")]),
        ("<![CDATA[x]]>", [("Comment", "[CDATA[x]]")]),
    ],
)
def test_browser_mode_switches_after_start_tags_outside_foreign_content(document, expected):
    assert without_errors(tokens(document, content_model="browser")) == expected


def test_noscript_is_markup_without_scripting():
    assert tokens("<noscript><a>", content_model="browser", scripting=False) == [S("noscript"), S("a")]


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
    "content_model, models, document, expected",
    [
        ("none", {"x": "rcdata"}, "<x>&lt;<y></x>", [S("x"), C("<<y>"), E("x")]),
        ("none", {"x": "rawtext"}, "<x>&lt;</y></x>", [S("x"), C("&lt;</y>"), E("x")]),
        ("none", {"x": "script"}, "<x><!--</x>", [S("x"), C("<!--"), E("x")]),
        ("none", {"x": "plaintext"}, "<x></x>", [S("x"), C("</x>")]),
        ("none", {"title": "data"}, "<title><b>", [S("title"), S("b")]),
        (
            "none",
            {},
            "<!--foreign--><![CDATA[<a>]]><!----><![CDATA[x]]>",
            [("Comment", "foreign"), C("<a>"), ("Comment", ""), ("Comment", "[CDATA[x]]")],
        ),
        # The handler wins over browser mode.
        ("browser", {"title": "data"}, "<title><b>", [S("title"), S("b")]),
    ],
)
def test_a_handler_switches_content_models(content_model, models, document, expected):
    assert without_errors(tokens(document, Switching(models), content_model=content_model)) == expected


@pytest.mark.parametrize(
    "callback, method, args, error, message",
    [
        (None, "set_content_model", ("rcdata",), RuntimeError, "during a parse"),
        (None, "allow_cdata", (True,), RuntimeError, "during a parse"),
        ("OnChar", "set_content_model", ("rcdata",), RuntimeError, "only be called from OnStartTag"),
        ("OnStartTag", "set_content_model", ("RCDATA",), ValueError, "'rcdata'"),
        ("OnStartTag", "set_content_model", (b"rcdata",), TypeError, "must be str"),
        ("OnComment", "allow_cdata", (True,), None, None),  # from any callback
    ],
)
def test_switching_outside_its_place_raises(callback, method, args, error, message):
    handler = Recorder()
    setattr(handler, callback or "switch", lambda *_: getattr(handler, method)(*args))
    with pytest.raises(error, match=message) if error else nullcontext():
        htmltess.html_parse_string(handler, "<a>x<!---->") if callback else handler.switch()


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
    assert recorder.tokens() == [C("<a>")]
    options = {"initial_state": "RCDATA state", "last_start_tag": "Title"}
    assert tokens("a</TITLE>b", **options) == [C("a"), E("title"), C("b")]


TEXT_ELEMENTS = {"script", "style", "textarea", "title"}


@pytest.mark.skipif(not EXTRA_CORPUS.is_dir(), reason="corpus not available")
def test_browser_mode_reports_no_markup_inside_text_elements_of_the_corpus():
    checked = 0
    for page in sorted(EXTRA_CORPUS.glob("*.html")):
        recorder = Recorder()
        recorder.OnText = len  # characters unrecorded, in runs: a large page stays cheap
        events = without_errors(tokens(page.read_bytes(), recorder, content_model="browser"))
        foreign = 0  # unclosed svg and math elements: at least as many levels as the rules track
        for event, after in zip(events, events[1:] + [("EOF",)]):
            if event[0] == "StartTag" and event[1] in ("svg", "math") and not event[3]:
                foreign += 1
            elif event[0] == "EndTag" and event[1] in ("svg", "math"):
                foreign = max(foreign - 1, 0)
            elif event[0] == "StartTag" and event[1] in TEXT_ELEMENTS and not foreign:
                assert after in (E(event[1]), ("EOF",)), (page.name, event, after)
                checked += 1
    assert checked > 1000
