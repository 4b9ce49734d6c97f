"""The shared recording handlers of the Python tests."""

from __future__ import annotations

import htmltess


class Boom(Exception):
    pass


# Builders of expected events, in the shape Recorder records them.
PE = ("ParseError",)


def C(text):
    return ("Character", text)


def S(name, attributes=None, self_closing=False):
    return ("StartTag", name, attributes or {}, self_closing)


def E(name):
    return ("EndTag", name)


class Recorder(htmltess.HtmlHandler):
    """Records every callback in the html5lib-like shape, one event per call."""

    def __init__(self) -> None:
        self.events: list[tuple] = []

    def record(self, event: tuple) -> None:
        self.events.append(event)

    def OnParseError(self):
        self.record(("ParseError",))

    def OnDoctype(self, name, public_id, system_id):
        self.record(("DOCTYPE", name, public_id, system_id))

    def OnStartTag(self, name, attributes, self_closing):
        self.record(("StartTag", name, dict(attributes), self_closing))

    def OnEndTag(self, name):
        self.record(("EndTag", name))

    def OnComment(self, text):
        self.record(("Comment", text))

    def OnChar(self, char):
        self.record(("Character", char))

    def OnEof(self):
        self.record(("EOF",))

    def tokens(self) -> list[tuple]:
        """The events with adjacent text merged; the single end-of-file event must come last."""
        assert self.events.count(("EOF",)) == 1 and self.events[-1] == ("EOF",), self.events[-3:]
        return merge_characters(self.events[:-1])


class TextRecorder(Recorder):
    """Records like Recorder, but takes text in runs through OnText, as ("Text", run) events."""

    def OnText(self, text):
        self.record(("Text", text))


class ErrorTextRecorder(TextRecorder):
    """Records like TextRecorder, and each parse error with its code and position."""

    def OnError(self, code, line, column):
        self.record(("ParseError", code, line, column))


class OnFirstChar(Recorder):
    """Records like Recorder and runs `action(self)` at the first OnChar."""

    def __init__(self, action) -> None:
        super().__init__()
        self.action = action

    def OnChar(self, char):
        super().OnChar(char)
        action, self.action = self.action, None
        if action:
            action(self)


def merge_characters(events: list[tuple]) -> list[tuple]:
    """Adjacent Character and Text events joined into one Character event."""
    merged: list[tuple] = []
    for event in events:
        if event[0] in ("Character", "Text"):
            event = ("Character", event[1])
            if merged and merged[-1][0] == "Character":
                event = ("Character", merged.pop()[1] + event[1])
        merged.append(event)
    return merged


def tokens(document: str | bytes, recorder: Recorder | None = None, **options) -> list[tuple]:
    """Tokenizes a document with a fresh Recorder (or the one given) and returns its merged events."""
    recorder = recorder or Recorder()
    assert htmltess.html_parse_string(recorder, document, **options) is True
    return recorder.tokens()
