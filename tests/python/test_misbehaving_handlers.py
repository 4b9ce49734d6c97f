"""Handlers that misbehave: raise, re-enter, keep arguments, rewrite their own methods, use threads.

None of it may crash. A raised exception propagates unchanged and ends the parse; a
handler already parsing cannot start another parse; kept attribute dicts are emptied;
methods are looked up by name at every call, so a change takes effect at the next call.
"""

from __future__ import annotations

import sys
import threading

import htmltess
import pytest
from recording import Recorder, tokens

# One call of every callback kind, some of them more than once.
DOCUMENT = '<!DOCTYPE html>a<p class="x" id=y>b\0</p><!--c--><br/>de'
CALLBACKS = ["OnParseError", "OnDoctype", "OnStartTag", "OnEndTag", "OnComment", "OnChar", "OnEof"]


def calls(document: str) -> list[tuple]:
    """Every callback of a well-behaved parse, one event per call."""
    recorder = Recorder()
    htmltess.html_parse_string(recorder, document)
    return recorder.events


class Boom(Exception):
    pass


class RaisesAt(Recorder):
    """Records each call and raises a given exception at the n-th call (counted from 0)."""

    def __init__(self, at: int, error: BaseException) -> None:
        super().__init__()
        self.at = at
        self.error = error
        for name in CALLBACKS:
            recording = getattr(self, name)
            setattr(self, name, self.counted(recording))

    def counted(self, recording):
        def call(*args):
            recording(*args)
            if len(self.events) - 1 == self.at:
                raise self.error

        return call


def test_the_document_reaches_every_callback():
    assert {event[0] for event in calls(DOCUMENT)} == {
        "ParseError",
        "DOCTYPE",
        "StartTag",
        "EndTag",
        "Comment",
        "Character",
        "EOF",
    }


@pytest.mark.parametrize("error_type", [Boom, KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("source", ["str", "file"])
def test_an_exception_at_any_call_propagates_unchanged_and_ends_the_parse(error_type, source, tmp_path):
    expected = calls(DOCUMENT)
    path = tmp_path / "document.html"
    path.write_text(DOCUMENT, encoding="utf-8")
    for at in range(len(expected)):
        error = error_type(at)
        handler = RaisesAt(at, error)
        with pytest.raises(error_type) as raised:
            if source == "str":
                htmltess.html_parse_string(handler, DOCUMENT)
            else:
                htmltess.html_parse_file(handler, path)
        assert raised.value is error
        assert handler.events == expected[: at + 1]


def test_a_handler_that_raised_can_parse_again():
    handler = RaisesAt(0, Boom())
    with pytest.raises(Boom):
        htmltess.html_parse_string(handler, DOCUMENT)
    handler.at = -1
    handler.events = []
    assert htmltess.html_parse_string(handler, DOCUMENT) is True
    assert handler.events == calls(DOCUMENT)


class Reentering(Recorder):
    """Starts a parse from inside a callback, with itself or with a new handler."""

    def __init__(self, nested_handler=None, catch=False) -> None:
        super().__init__()
        self.nested_handler = nested_handler
        self.catch = catch
        self.nested: list = []

    def OnStartTag(self, name, attributes, self_closing):
        super().OnStartTag(name, attributes, self_closing)
        handler = self if self.nested_handler is None else self.nested_handler
        try:
            htmltess.html_parse_string(handler, "<i>x</i>")
        except RuntimeError as error:
            if not self.catch:
                raise
            self.nested.append(str(error))
        else:
            self.nested.append(handler.tokens())
            handler.events = []


def test_a_parse_with_another_handler_inside_a_callback():
    handler = Reentering(nested_handler=Recorder())
    htmltess.html_parse_string(handler, DOCUMENT)
    assert handler.tokens() == tokens(DOCUMENT)
    assert handler.nested == [[("StartTag", "i", {}, False), ("Character", "x"), ("EndTag", "i")]] * 2


def test_the_same_handler_reentering_raises_runtime_error():
    handler = Reentering()
    with pytest.raises(RuntimeError, match="already parsing"):
        htmltess.html_parse_string(handler, DOCUMENT)
    assert handler.events == calls(DOCUMENT)[:3]


def test_a_caught_reentry_lets_the_parse_go_on():
    handler = Reentering(catch=True)
    assert htmltess.html_parse_string(handler, DOCUMENT) is True
    assert handler.tokens() == tokens(DOCUMENT)
    assert len(handler.nested) == 2 and "already parsing" in handler.nested[0]


class Nesting(htmltess.HtmlHandler):
    """Each character starts a parse with a new handler of its own kind, without end."""

    def OnChar(self, char):
        htmltess.html_parse_string(Nesting(), "x")


def test_unbounded_nesting_raises_recursion_error():
    with pytest.raises(RecursionError):
        htmltess.html_parse_string(Nesting(), "x")


class Keeping(htmltess.HtmlHandler):
    """Keeps every attribute dict it is given, and a copy of it, and mutates the original."""

    def __init__(self) -> None:
        self.kept: list[dict] = []
        self.copies: list[dict] = []

    def OnStartTag(self, name, attributes, self_closing):
        self.kept.append(attributes)
        self.copies.append(dict(attributes))
        attributes["added"] = "z"
        attributes.pop("id", None)


def test_kept_attribute_dicts_are_emptied():
    handler = Keeping()
    htmltess.html_parse_string(handler, DOCUMENT)
    assert handler.copies == [{"class": "x", "id": "y"}, {}]
    assert handler.kept == [{}, {}]


def make_handler_class():
    """A fresh recording class, so that changes to it stay within one test."""

    class Changing(Recorder):
        pass

    return Changing


def replace_on_class(handler):
    type(handler).OnChar = lambda self, char: self.events.append(("Replaced", char))


def delete_from_class(handler):
    del type(handler).OnChar  # Recorder.OnChar takes over


def delete_through_the_hierarchy(handler):
    del type(handler).OnChar
    type(handler).OnChar = htmltess.HtmlHandler.OnChar  # the default: does nothing


def replace_on_instance(handler):
    handler.OnChar = lambda char: handler.events.append(("Instance", char))


def replace_on_instance_then_delete(handler):
    handler.OnChar = lambda char: None
    del handler.OnChar


@pytest.mark.parametrize(
    "change, later",
    [
        (replace_on_class, [("Replaced", "e")]),
        (delete_from_class, [("Character", "e")]),
        (delete_through_the_hierarchy, []),
        (replace_on_instance, [("Instance", "e")]),
        (replace_on_instance_then_delete, [("Character", "e")]),
    ],
)
def test_a_method_changed_during_the_parse_takes_effect_at_the_next_call(change, later):
    cls = make_handler_class()

    def on_char(self, char):
        self.events.append(("Character", char))
        if char == "d":
            change(self)

    cls.OnChar = on_char
    handler = cls()
    htmltess.html_parse_string(handler, "d<p>e")
    assert handler.events == [("Character", "d"), ("StartTag", "p", {}, False), *later, ("EOF",)]


def test_a_method_replaced_by_a_non_callable_raises_type_error():
    handler = Recorder()
    handler.OnComment = None
    with pytest.raises(TypeError):
        htmltess.html_parse_string(handler, "a<!--x-->b")
    assert handler.events == [("Character", "a")]


def test_a_method_deleted_from_the_instance_mid_parse_raises_attribute_error():
    handler = Recorder()

    def on_char(char):
        del handler.OnChar
        del handler.OnChar  # no longer on the instance

    handler.OnChar = on_char
    with pytest.raises(AttributeError):
        htmltess.html_parse_string(handler, "ab")


class CallsFromAnotherThread(Recorder):
    """On the first start tag, runs a parse with itself on another thread and waits for it."""

    def __init__(self) -> None:
        super().__init__()
        self.outcome: list[BaseException | bool] = []

    def OnStartTag(self, name, attributes, self_closing):
        super().OnStartTag(name, attributes, self_closing)
        if len(self.outcome) == 0:
            thread = threading.Thread(target=self.parse_on_thread)
            thread.start()
            thread.join()

    def parse_on_thread(self):
        try:
            self.outcome.append(htmltess.html_parse_string(self, DOCUMENT))
        except RuntimeError as error:
            self.outcome.append(error)


def test_the_same_handler_from_another_thread_raises_runtime_error():
    handler = CallsFromAnotherThread()
    assert htmltess.html_parse_string(handler, DOCUMENT) is True
    assert len(handler.outcome) == 1 and isinstance(handler.outcome[0], RuntimeError)
    assert handler.tokens() == tokens(DOCUMENT)


def test_threads_parsing_concurrently_with_their_own_handlers():
    documents = [DOCUMENT * (i + 1) + "x" * 5000 + f"<t{i} a={i}>" for i in range(8)]
    expected = [tokens(document) for document in documents]
    results: list = [None] * len(documents)

    def parse(i):
        results[i] = tokens(documents[i])

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads between callbacks as often as possible
    try:
        threads = [threading.Thread(target=parse, args=(i,)) for i in range(len(documents))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert results == expected


class TextRaisesAt(htmltess.HtmlHandler):
    """Takes text in runs through OnText and raises at the n-th run (counted from 0; never when negative)."""

    def __init__(self, at: int, error: BaseException) -> None:
        self.at = at
        self.error = error
        self.texts: list[str] = []
        self.eof = False

    def OnText(self, text):
        self.texts.append(text)
        if len(self.texts) - 1 == self.at:
            raise self.error

    def OnEof(self):
        self.eof = True


def test_an_exception_from_on_text_propagates_unchanged_and_ends_the_parse():
    document = DOCUMENT * 3 + "z" * 20000
    complete = TextRaisesAt(-1, Boom())
    htmltess.html_parse_string(complete, document)
    assert len(complete.texts) > 3 and complete.eof
    for at in range(len(complete.texts)):
        error = Boom(at)
        handler = TextRaisesAt(at, error)
        with pytest.raises(Boom) as raised:
            htmltess.html_parse_string(handler, document)
        assert raised.value is error
        assert handler.texts == complete.texts[: at + 1] and not handler.eof
