"""Handlers that misbehave: raise, re-enter, nest without end, keep arguments, rewrite their own methods, use
threads. None of it may crash; a raised exception propagates unchanged and ends the parse; methods are looked
up by name at every call."""

import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor
from contextlib import nullcontext

import htmltess
import pytest
from inputs import VENDORED_PAGES
from recording import OnFirstChar, Recorder, TextRecorder, tokens

parse_string = htmltess.html_parse_string
parse_file = htmltess.html_parse_file
C = "Character"

# Reaches every callback, most of them more than once, and OnText with several runs; its end of file
# brings a parse error, a comment and the end in one step of the tokenizer.
DOCUMENT = '<!DOCTYPE html>a<p class="x" id=y>b\0</p><!--c--><br/>d<!--e'


class RaisesAt(Recorder):
    """Records every call and raises `error` at the call numbered `at`, counted from 0. It keeps its state in
    its class: a handler without instance attributes would see a call made while the exception is pending."""

    def __init__(self, at=None, error=None):
        type(self).events, type(self).at, type(self).error = [], at, error

    def record(self, event):
        self.events.append(event)
        if len(self.events) - 1 == self.at:
            raise self.error


class TextRaisesAt(TextRecorder, RaisesAt):
    pass


@pytest.mark.parametrize("handler_type, text", [(RaisesAt, C), (TextRaisesAt, "Text")])
@pytest.mark.parametrize("error_type", [LookupError, KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("via_file", [False, True])
def test_an_exception_at_any_call_propagates_unchanged_and_ends_the_parse(
    tmp_path, via_file, error_type, handler_type, text
):
    (tmp_path / "doc.html").write_bytes(DOCUMENT.encode())
    parse, source = (parse_file, tmp_path / "doc.html") if via_file else (parse_string, DOCUMENT)
    complete = handler_type()
    assert parse(complete, source) is True
    expected = complete.events  # the next handler of the type starts a list of its own
    kinds = {text, "DOCTYPE", "StartTag", "EndTag", "Comment", "ParseError", "EOF"}
    assert {event[0] for event in expected} == kinds  # every kind of callback
    for at in range(len(expected)):
        handler = handler_type(at, error_type(at))
        with pytest.raises(error_type) as raised:
            parse(handler, source)
        assert (raised.value, handler.events) == (handler.error, expected[: at + 1])
        handler.__init__()  # forgets the error: the handler may parse again
        assert parse(handler, source) is True and handler.events == expected


def attempt(nested, handler):
    """What nested(handler) returns, or the message of the RuntimeError it raised."""
    try:
        return nested(handler)
    except RuntimeError as error:
        return str(error)


ALREADY = "(): this handler is already parsing a document"


def elsewhere(call):
    return lambda h: ThreadPoolExecutor(1).submit(call, h).result()


@pytest.mark.parametrize(
    "nested, outcome",
    [
        (lambda h: parse_string(h, "x"), "html_parse_string" + ALREADY),
        (lambda h: parse_file(h, "/the/path/is/not/opened"), "html_parse_file" + ALREADY),
        (elsewhere(lambda h: parse_string(h, "x")), "html_parse_string" + ALREADY),
        (
            elsewhere(lambda h: h.allow_cdata(True)),
            "allow_cdata() may only be called during a parse, from a callback",
        ),
        (lambda h: tokens("<i>x</i>"), [("StartTag", "i", {}, False), (C, "x"), ("EndTag", "i")]),
    ],
)
def test_a_callback_may_start_a_parse_with_any_handler_but_the_one_parsing(nested, outcome):
    outcomes = []  # a refused parse leaves the handler parsing: the second attempt is refused too
    handler = OnFirstChar(lambda h: outcomes.extend([attempt(nested, h), attempt(nested, h)]))
    assert parse_string(handler, DOCUMENT) is True
    assert (handler.tokens(), outcomes) == (tokens(DOCUMENT), [outcome, outcome])


# Each parse's OnEof in the chain starts the next parse without any Python frame between. Only the list holds
# the outermost handler, so that they are freed one by one, not by a recursion as deep as the chain (which
# overflows the small stack on 3.13.0).
NESTING = """
import functools, sys, threading, htmltess
sys.setrecursionlimit({limit})
threading.stack_size({stack})
class Deeper(htmltess.HtmlHandler):
    def OnChar(self, char):
        htmltess.html_parse_string(Deeper(), "x")
def attempt(handler, text):
    try:
        htmltess.html_parse_string(handler, text)
    except RecursionError:
        print("RecursionError")
def run():
    attempt(Deeper(), "x")
    chain = [htmltess.HtmlHandler()]
    for _ in range(100_000):
        chain.append(Deeper())
        chain[-1].OnEof = functools.partial(htmltess.html_parse_string, chain[-2], "")
    attempt(chain[-1], "")
    print(htmltess.html_parse_string(htmltess.HtmlHandler(), "x"))
threading.Thread(target=run).start()
"""


# By the recursion limit, or by the free stack where the limit is raised or the thread's stack is small
# (which guard fires first varies between Python versions).
@pytest.mark.parametrize("limit, stack", [(1000, 0), (1_000_000, 0), (1000, 256 * 1024)])
def test_deep_nesting_ends_in_recursion_error(limit, stack):
    script = NESTING.format(limit=limit, stack=stack)
    result = subprocess.run([sys.executable, "-c", script], check=False, capture_output=True, text=True)
    assert (result.returncode, result.stdout.split()) == (0, ["RecursionError"] * 2 + ["True"]), result.stderr


def test_kept_attribute_dicts_are_emptied():
    kept, copies = [], []

    class Keeping(htmltess.HtmlHandler):
        def OnStartTag(self, name, attributes, self_closing):
            kept.append(attributes)
            copies.append(dict(attributes))
            attributes["added"] = "z"

    parse_string(Keeping(), DOCUMENT)
    assert (kept, copies) == ([{}, {}], [{"class": "x", "id": "y"}, {}])


def recording_as(kind):
    return lambda self, char: self.record((kind, char))


def on_instance(handler):
    handler.OnChar = lambda char: handler.record(("Instance", char))


# `initial` is the class's own OnChar; the change is made at the start tag of "d<p>e".
@pytest.mark.parametrize(
    "initial, change, later",
    [
        ("Class", lambda h: setattr(type(h), "OnChar", recording_as("Replaced")), [("Replaced", "e")]),
        ("Class", lambda h: delattr(type(h), "OnChar"), [(C, "e")]),  # Recorder.OnChar takes over
        ("Class", lambda h: setattr(type(h), "OnChar", htmltess.HtmlHandler.OnChar), []),
        ("Class", on_instance, [("Instance", "e")]),
        ("Class", lambda h: (setattr(h, "OnChar", None), delattr(h, "OnChar")), [("Class", "e")]),
        (None, lambda h: setattr(type(h), "OnChar", recording_as("Replaced")), [("Replaced", "e")]),
        (None, on_instance, [("Instance", "e")]),
        (None, lambda h: setattr(h, "OnChar", None), TypeError),
    ],
)
def test_a_method_changed_during_the_parse_takes_effect_at_the_next_call(initial, change, later):
    class Changing(Recorder):
        OnChar = recording_as(initial) if initial else htmltess.HtmlHandler.OnChar

        def OnStartTag(self, name, attributes, self_closing):
            super().OnStartTag(name, attributes, self_closing)
            change(self)

    handler = Changing()
    with pytest.raises(TypeError) if later is TypeError else nullcontext():
        parse_string(handler, "d<p>e")
    earlier = [("Class", "d")] if initial else []
    later = [] if later is TypeError else later + [("EOF",)]
    assert handler.events == earlier + [("StartTag", "p", {}, False)] + later


# Takes no characters: the tokenizer makes no character callbacks.
NoChars = type("NoChars", (Recorder,), {"OnChar": htmltess.HtmlHandler.OnChar})


def parse_in_every_way(index, start=None):
    """Parses a page as str, bytes and file with a new handler taking characters one by one, as runs, or none."""
    page = VENDORED_PAGES[index % len(VENDORED_PAGES)]
    handler = (Recorder, TextRecorder, NoChars)[index % 3]()
    if start:
        start.wait()
    for source in (
        page.read_text(encoding="utf-8", errors="replace"),
        page.read_bytes() + DOCUMENT.encode(),
        page,
    ):
        parse = parse_file if source is page else parse_string
        parse(handler, source, content_model=("none", "browser")[index % 2])
    return handler.events


def test_threads_parsing_at_once_with_their_own_handlers_get_what_a_serial_run_gets():
    serial = [parse_in_every_way(index) for index in range(16)]
    start = threading.Barrier(16)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # with a lock, switch threads between callbacks as often as possible
    try:
        with ThreadPoolExecutor(16) as pool:
            assert list(pool.map(parse_in_every_way, range(16), [start] * 16)) == serial
    finally:
        sys.setswitchinterval(interval)


class Meta(type):
    @property
    def OnText(cls):
        return "a metaclass attribute, invisible from instances"

    @property
    def OnDoctype(cls):
        raise LookupError("raised by the metaclass, never seen by instances")


def with_own_on_text(handler, method):
    handler.OnText = method.__get__(handler)
    return handler


class RaisingLookup(Recorder):
    @property
    def OnComment(self):
        raise LookupError("raised by the lookup")


ABC = [(C, "a"), (C, "b"), ("EOF",)]


@pytest.mark.parametrize(
    "make, document, expected",
    [
        # (a) a metaclass property is not what the instance finds: OnChar is called
        (lambda: Meta("A", (Recorder,), {})(), "ab", ABC),
        # (b) the instance sets OnText back to the default, and OnChar is called; or sets its own
        (lambda: with_own_on_text(TextRecorder(), htmltess.HtmlHandler.OnText), "ab", ABC),
        (lambda: with_own_on_text(Recorder(), recording_as("Text")), "ab", [("Text", "ab"), ("EOF",)]),
        # (c) a failing lookup on the metaclass is no lookup on the instance; one on the instance propagates
        (lambda: Meta("C", (Recorder,), {})(), "<!DOCTYPE a>", [("DOCTYPE", "a", None, None), ("EOF",)]),
        (RaisingLookup, "a<!--x-->b", [(C, "a")]),
        # (d) a parse error with the default OnParseError does not split a run
        (
            lambda: type("E", (TextRecorder,), {"OnParseError": htmltess.HtmlHandler.OnParseError})(),
            "a\0b<p>c",
            [("Text", "a\0b"), ("StartTag", "p", {}, False), ("Text", "c"), ("EOF",)],
        ),
    ],
)
def test_the_mode_follows_what_the_instance_lookup_finds(make, document, expected):
    handler = make()
    with pytest.raises(LookupError) if isinstance(handler, RaisingLookup) else nullcontext():
        parse_string(handler, document)
    assert handler.events == expected


# No callback is Python code, so the interpreter's own loop never runs to switch threads: only the parse can.
@pytest.mark.parametrize("on_char", [None, [].append], ids=["no-callbacks", "builtin-on-char"])
def test_other_threads_get_turns_during_a_parse(on_char):
    handler, ends, seen, done = type("Plain", (htmltess.HtmlHandler,), {})(), [], set(), threading.Event()
    handler.OnEndTag = ends.append  # the end tags parsed so far, as another thread sees them
    if on_char:
        handler.OnChar = on_char

    def watch():
        while not done.is_set():
            seen.add(len(ends))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    thread = threading.Thread(target=watch)
    thread.start()
    try:
        parse_string(handler, "<p class=x>Some ordinary text &amp; markup.</p>\n" * 200_000)
    finally:
        done.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert len(seen - {0, 200_000}) >= 3  # turns within the parse, however busy the machine
