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

    def OnParseError(self):
        self.counts["ParseError"] += 1

    def OnDoctype(self, name, public_id, system_id):
        self.counts["DOCTYPE"] += 1
        self.counts["text"] += sum(len(field) for field in (name, public_id, system_id) if field is not None)

    def OnStartTag(self, name, attributes, self_closing):
        self.counts["StartTag"] += 1
        self.counts["attributes"] += len(attributes)
        self.counts["text"] += len(name) + sum(len(key) + len(value) for key, value in attributes.items())

    def OnEndTag(self, name):
        self.counts["EndTag"] += 1
        self.counts["text"] += len(name)

    def OnComment(self, text):
        self.counts["Comment"] += 1
        self.counts["text"] += len(text)

    def OnChar(self, char):
        self.counts["Character"] += 1

    def OnEof(self):
        self.counts["EOF"] += 1


def count(source, parse=htmltess.html_parse_string) -> dict[str, int]:
    """Parses a document (a file with parse=html_parse_file) with a fresh Counting handler; its non-zero counts."""
    handler = Counting()
    assert parse(handler, source) is True
    return dict(+handler.counts)


def count_file(path) -> dict[str, int]:
    return count(path, htmltess.html_parse_file)
