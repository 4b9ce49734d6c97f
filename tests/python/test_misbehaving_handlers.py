"""Handlers that misbehave: raise, re-enter, nest without end, keep arguments, rewrite their own methods, use
threads. None of it may crash. A raised exception propagates unchanged and ends the parse; a handler already
parsing cannot start another parse; kept attribute dicts are emptied; methods are looked up by name at every
call, so a change takes effect at the next call."""

import gc
import subprocess
import sys
import threading
import time
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
TOKEN_KINDS = ["DOCTYPE", "StartTag", "EndTag", "Comment", "ParseError", "EOF"]


class RaisesAt(Recorder):
    """Records every call and raises `error` at the call numbered `at`, counted from 0. It keeps its state in
    its class: a handler without instance attributes would see a call made while the exception is pending."""

    def __init__(self, at=None, error=None):
        type(self).events, type(self).at, type(self).error = [], at, error

    def record(self, event):
        self.events.append(event)
        if len(self.events) - 1 == self.at:
            raise self.error


class TextRaisesAt(RaisesAt):
    def OnText(self, text):
        self.record(("Text", text))


@pytest.mark.parametrize("handler_type, text", [(RaisesAt, C), (TextRaisesAt, "Text")])
@pytest.mark.parametrize("error_type", [LookupError, KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("via_file", [False, True])
def test_an_exception_at_any_call_propagates_unchanged_and_ends_the_parse(
    tmp_path, via_file, error_type, handler_type, text
):
    path = tmp_path / "doc.html"
    path.write_bytes(DOCUMENT.encode())
    parse, source = (parse_file, path) if via_file else (parse_string, DOCUMENT)
    complete = handler_type()
    assert parse(complete, source) is True
    expected = complete.events  # the next handler of the type starts a list of its own
    assert {event[0] for event in expected} == {text, *TOKEN_KINDS}  # every kind of callback
    for at in range(len(expected)):
        handler = handler_type(at, error_type(at))
        with pytest.raises(error_type) as raised:
            parse(handler, source)
        assert raised.value is handler.error
        assert handler.events == expected[: at + 1]
        handler.__init__()  # forgets the error: the handler may parse again
        assert parse(handler, source) is True
        assert handler.events == expected


def attempt(nested, handler):
    """What nested(handler) returns, or RuntimeError if it raised that because the handler is parsing."""
    try:
        return nested(handler)
    except RuntimeError as error:
        assert "already parsing" in str(error)
        return RuntimeError


@pytest.mark.parametrize(
    "nested, outcome",
    [
        (lambda h: parse_string(h, "x"), RuntimeError),
        (lambda h: parse_file(h, "/the/path/is/not/opened"), RuntimeError),
        (lambda h: ThreadPoolExecutor(1).submit(parse_string, h, "x").result(), RuntimeError),
        (lambda h: tokens("<i>x</i>"), [("StartTag", "i", {}, False), (C, "x"), ("EndTag", "i")]),
    ],
)
def test_a_callback_may_start_a_parse_with_any_handler_but_the_one_parsing(nested, outcome):
    outcomes = []  # a refused parse leaves the handler parsing: the second attempt is refused too
    handler = OnFirstChar(lambda h: outcomes.extend([attempt(nested, h), attempt(nested, h)]))
    assert parse_string(handler, DOCUMENT) is True
    assert (handler.tokens(), outcomes) == (tokens(DOCUMENT), [outcome, outcome])


NESTING = """
import functools, sys, threading, htmltess
sys.setrecursionlimit({limit})
threading.stack_size({stack})

class Deeper(htmltess.HtmlHandler):
    def OnChar(self, char):
        htmltess.html_parse_string(Deeper(), "x")

def native_chain(length):
    # Each parse's OnEof starts the next parse without any Python frame between. Only the list holds the
    # outermost handler, so that they are freed one by one, not by a recursion as deep as the chain (which
    # overflows the small stack on 3.13.0).
    chain = [htmltess.HtmlHandler()]
    for _ in range(length):
        chain.append(Deeper())
        chain[-1].OnEof = functools.partial(htmltess.html_parse_string, chain[-2], "")
    return chain

def attempt(handler, text):
    try:
        htmltess.html_parse_string(handler, text)
    except RecursionError:
        print("RecursionError")

def run():
    attempt(Deeper(), "x")
    chain = native_chain(100_000)
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


def on_char(self, char):
    self.record(("Class", char))


def replaced(self, char):
    self.record(("Replaced", char))


def on_instance(handler):
    handler.OnChar = lambda char: handler.record(("Instance", char))


def set_then_delete_on_instance(handler):
    handler.OnChar = None
    del handler.OnChar


# `initial` is the class's own OnChar; the change is made at the start tag of "d<p>e".
@pytest.mark.parametrize(
    "initial, change, later",
    [
        (on_char, lambda h: setattr(type(h), "OnChar", replaced), [("Replaced", "e")]),
        (on_char, lambda h: delattr(type(h), "OnChar"), [(C, "e")]),  # Recorder.OnChar takes over
        (on_char, lambda h: setattr(type(h), "OnChar", htmltess.HtmlHandler.OnChar), []),
        (on_char, on_instance, [("Instance", "e")]),
        (on_char, set_then_delete_on_instance, [("Class", "e")]),
        (htmltess.HtmlHandler.OnChar, lambda h: setattr(type(h), "OnChar", replaced), [("Replaced", "e")]),
        (htmltess.HtmlHandler.OnChar, on_instance, [("Instance", "e")]),
    ],
)
def test_a_method_changed_during_the_parse_takes_effect_at_the_next_call(initial, change, later):
    class Changing(Recorder):
        OnChar = initial

        def OnStartTag(self, name, attributes, self_closing):
            super().OnStartTag(name, attributes, self_closing)
            change(self)

    handler = Changing()
    parse_string(handler, "d<p>e")
    earlier = [("Class", "d")] if initial is on_char else []
    assert handler.events == earlier + [("StartTag", "p", {}, False)] + later + [("EOF",)]


def test_a_method_replaced_by_a_non_callable_raises_type_error():
    handler = Recorder()
    handler.OnComment = None
    with pytest.raises(TypeError):
        parse_string(handler, "a<!--x-->b")
    assert handler.events == [(C, "a")]


class StartTags(htmltess.HtmlHandler):
    def __init__(self):
        self.events = []

    def OnStartTag(self, name, attributes, self_closing):
        self.events.append((name, dict(attributes), self_closing))


def parse_in_every_way(index, start=None):
    """Parses a page as str, bytes and file with a new handler taking characters one by one, as runs, or none."""
    page = VENDORED_PAGES[index % len(VENDORED_PAGES)]
    handler = (Recorder, TextRecorder, StartTags)[index % 3]()
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


def test_of_two_threads_with_one_handler_one_parses_and_the_other_gets_runtime_error():
    in_callback, tried = threading.Event(), threading.Event()
    errors = []

    class Waiting(Recorder):
        def OnStartTag(self, name, attributes, self_closing):
            super().OnStartTag(name, attributes, self_closing)
            in_callback.set()
            tried.wait()

    def other_thread():
        in_callback.wait()
        for call in lambda: parse_string(handler, "<b>"), lambda: handler.allow_cdata(True):
            with pytest.raises(RuntimeError) as error:
                call()
            errors.append(str(error.value))
        tried.set()

    handler = Waiting()
    thread = threading.Thread(target=other_thread)
    thread.start()
    parse_string(handler, "<a>x<![CDATA[y]]>")
    thread.join()
    assert errors == [
        "html_parse_string(): this handler is already parsing a document",
        "allow_cdata() may only be called during a parse, from a callback",
    ]
    assert handler.tokens() == tokens("<a>x<![CDATA[y]]>")


class Meta(type):
    @property
    def OnText(cls):
        return "a metaclass attribute, invisible from instances"

    @property
    def OnDoctype(cls):
        raise LookupError("raised by the metaclass, never seen by instances")


class Text(Recorder):
    def OnText(self, text):
        self.record(("Text", text))


def text_reset_on_instance():
    handler = Text()
    handler.OnText = htmltess.HtmlHandler.OnText.__get__(handler)
    return handler


class TextAndTags(htmltess.HtmlHandler):
    def __init__(self):
        self.events = []

    def OnText(self, text):
        self.events.append(("Text", text))

    def OnStartTag(self, name, attributes, self_closing):
        self.events.append(("StartTag", name, dict(attributes), self_closing))


class RaisingLookup(Recorder):
    @property
    def OnComment(self):
        raise LookupError("raised by the lookup")


class Installing(htmltess.HtmlHandler):
    """Records end tags; the collector's callback installs an OnChar on the instance and marks where."""

    def __init__(self):
        self.events = []

    def OnEndTag(self, name):
        self.events.append(("EndTag", name))

    def install(self, phase, info):
        if "OnChar" not in vars(self):
            self.events.append(("Installed",))
            self.OnChar = lambda char: self.events.append((C, char))


def override_installed_by_gc(handler, document):
    """Parses with the collector running at every allocation and an OnChar installed at its first run."""
    threshold = gc.get_threshold()
    gc.callbacks.append(handler.install)
    gc.set_threshold(1)
    try:
        parse_string(handler, document)
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(handler.install)
    after = (
        handler.events[handler.events.index(("Installed",)) + 1 :] if ("Installed",) in handler.events else []
    )
    ends, chars = after.count(("EndTag", "p")), after.count((C, "a"))
    return ends - chars in (0, 1)  # every character after the installation arrived


def events_of(handler, document):
    with pytest.raises(LookupError) if isinstance(handler, RaisingLookup) else nullcontext():
        parse_string(handler, document)
    return handler.events


@pytest.mark.parametrize(
    "make, document, expected",
    [
        # (a) a metaclass property is not what the instance finds: OnChar is called
        (lambda: Meta("A", (Recorder,), {})(), "ab", [(C, "a"), (C, "b"), ("EOF",)]),
        # (b) the instance sets OnText back to the default: OnChar is called
        (text_reset_on_instance, "ab", [(C, "a"), (C, "b"), ("EOF",)]),
        # (c) a failing lookup on the metaclass is no lookup on the instance; one on the instance propagates
        (
            lambda: Meta("C", (Recorder,), {})(),
            "<!DOCTYPE a>",
            [("DOCTYPE", "a", None, None), ("EOF",)],
        ),
        (RaisingLookup, "a<!--x-->b", [(C, "a")]),
        # (d) an override installed by a gc callback during the parse is called from then on
        (Installing, "a</p>" * 2000, override_installed_by_gc),
        # (e) a parse error with the default OnParseError does not split a run
        (TextAndTags, "a\0b<p>c", [("Text", "a\0b"), ("StartTag", "p", {}, False), ("Text", "c")]),
    ],
    ids=[
        "a-metaclass",
        "b-instance-default",
        "c-metaclass-raises",
        "c-lookup-raises",
        "d-gc-callback",
        "e-no-split",
    ],
)
def test_the_mode_follows_what_the_instance_lookup_finds(make, document, expected):
    handler = make()
    if callable(expected):
        assert expected(handler, document)
    else:
        assert events_of(handler, document) == expected


def share_starved(handler, document):
    """The share of the parse during which another Python thread waited over ten switch intervals for a turn.

    A thread that gets no turn waits the whole parse (a share near 1); a busy machine adds only the odd
    long wait (well under half, even beside the fuzzer on two cores)."""
    done, gaps = threading.Event(), []

    def spin():
        last = time.perf_counter()
        while not done.is_set():
            now = time.perf_counter()
            gaps.append(now - last)
            last = now

    thread = threading.Thread(target=spin)
    thread.start()
    start = time.perf_counter()
    try:
        parse_string(handler, document)
    finally:
        elapsed = time.perf_counter() - start
        done.set()
        thread.join()
    return sum(gap for gap in gaps if gap > 10 * sys.getswitchinterval()) / elapsed


class Plain(htmltess.HtmlHandler):
    pass


def with_builtin_on_char():
    handler, kept = Plain(), []
    handler.OnChar = kept.append  # not Python code: the interpreter's loop never runs in it
    return handler


class CountingChars(htmltess.HtmlHandler):
    count = 0

    def OnChar(self, char):
        self.count += 1

    def OnText(self, text):
        self.count += len(text)


class CountingCharsOnly(CountingChars):
    OnText = htmltess.HtmlHandler.OnText


PARAGRAPH = "<p class=x>Some ordinary text &amp; markup.</p>\n"


@pytest.mark.parametrize(
    "make, repeats",
    [
        (htmltess.HtmlHandler, 400_000),
        (with_builtin_on_char, 200_000),
        (CountingCharsOnly, 20_000),
        (CountingChars, 100_000),
    ],
    ids=["no-callbacks", "builtin-on-char", "python-on-char", "on-text"],
)
def test_other_threads_get_turns_during_a_parse(make, repeats):
    assert share_starved(make(), PARAGRAPH * repeats) < 0.75
