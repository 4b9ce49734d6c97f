"""A handler that only counts: calls per callback and the characters it was given.

It keeps nothing else, so documents of any size can be checked in bounded memory.
"""

from __future__ import annotations

from collections import Counter

import htmltess


class Counting(htmltess.HtmlHandler):
    """Counts each callback, the attributes of start tags, and the length of every text received."""

    def __init__(self) -> None:
        self.counts: Counter[str] = Counter()

    def add(self, kind: str, *texts: str | None) -> None:
        self.counts[kind] += 1
        self.counts["text"] += sum(len(text) for text in texts if text is not None)

    def OnParseError(self):
        self.add("ParseError")

    def OnDoctype(self, name, public_id, system_id):
        self.add("DOCTYPE", name, public_id, system_id)

    def OnStartTag(self, name, attributes, self_closing):
        self.add("StartTag", name, *attributes, *attributes.values())
        self.counts["attributes"] += len(attributes)

    def OnEndTag(self, name):
        self.add("EndTag", name)

    def OnComment(self, text):
        self.add("Comment", text)

    def OnChar(self, char):
        self.add("Character")

    def OnEof(self):
        self.add("EOF")


def count(source, parse=htmltess.html_parse_string) -> dict[str, int]:
    """Parses a document (a file with parse=html_parse_file) with a fresh Counting handler; its non-zero counts."""
    handler = Counting()
    assert parse(handler, source) is True
    return dict(+handler.counts)


def count_file(path) -> dict[str, int]:
    return count(path, htmltess.html_parse_file)
