"""OnError: codes and positions where only this tokenizer's input can show them
(CR and CR LF, lines across the file buffer, every kind of input). The html5lib
suite checks the codes and positions of every state, and that OnError replaces
OnParseError."""

from __future__ import annotations

import re

import htmltess
import pytest


class Errors(htmltess.HtmlHandler):
    def __init__(self) -> None:
        self.errors: list[tuple] = []

    def OnError(self, code, line, column):
        self.errors.append((code, line, column))


def errors(document, parse=htmltess.html_parse_string) -> list[tuple]:
    handler = Errors()
    parse(handler, document)
    return handler.errors


@pytest.mark.parametrize(
    "document, expected",
    [
        ("a\rb\0", [("unexpected-null-character", 2, 2)]),
        ("a\r\nb\0", [("unexpected-null-character", 2, 2)]),
        ("a\n\rb\0", [("unexpected-null-character", 3, 2)]),
        ("\r\r\n\n<", [("eof-before-tag-name", 4, 2)]),
        ("<a\r\n>\x01", [("control-character-in-input-stream", 2, 2)]),
        (
            "\ud800 \ufdd0 \U0010ffff",
            [("surrogate-in-input-stream", 1, 1), ("noncharacter-in-input-stream", 1, 3)]
            + [("noncharacter-in-input-stream", 1, 5)],
        ),
        ("é<\0", [("invalid-first-character-of-tag-name", 1, 3), ("unexpected-null-character", 1, 3)]),
        ("&am\n&#x0;", [("null-character-reference", 2, 6)]),
        pytest.param(
            "\r\n" * 1000 + "\n" * 1000 + "\r" * 1000 + "a\0",
            [("unexpected-null-character", 3001, 2)],
            id="many lines",
        ),
        (
            "<!DOCTYPE\rhtml\r\n",
            [("missing-whitespace-before-doctype-name", 1, 10), ("eof-in-doctype", 3, 1)],
        ),
    ],
)
def test_positions_count_lines_and_code_points(document, expected):
    assert errors(document) == expected


@pytest.mark.parametrize("at", [0, 65535, 65536, 65537, 200000])
def test_every_kind_of_input_gives_the_same_errors(tmp_path, at):
    document = "x" * at + "\n<a b=c d\0=\x7f'>&#128\n\r<!--"
    path = tmp_path / "page.html"
    path.write_bytes(document.encode())
    expected = errors(document)
    assert len(expected) == 6 and expected[-1] == ("eof-in-comment", 4, 5)
    assert errors(document.encode()) == errors(bytearray(document.encode())) == expected
    assert errors(path, htmltess.html_parse_file) == expected


@pytest.mark.parametrize("filler", ["abc def ", "a\tb\r\nc\fd\n"])
@pytest.mark.parametrize("control", ["\x01", "\x0b", "\x7f", "\x85"])
def test_a_control_is_found_and_placed_wherever_it_stands(filler, control):
    """At every place in and around the blocks the input is scanned in, after printable text or spaces."""
    text = filler * 20
    for at in range(len(text)):
        lines = re.split(r"\r\n|\r|\n", text[:at])
        expected = [("control-character-in-input-stream", len(lines), len(lines[-1]) + 1)]
        assert errors(text[:at] + control + text[at:]) == expected, at


def test_codes_are_interned():
    first, second = errors("<\0"), errors("<\0")
    assert first[0][0] is second[0][0]
