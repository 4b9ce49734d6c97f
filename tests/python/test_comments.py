"""Markup declarations after "<!", comments and bogus comments."""

import pytest
from recording import tokens

PE = ("ParseError",)


@pytest.mark.parametrize(
    "document, expected",
    [
        # After "<!": "--", DOCTYPE in any ASCII case, or a bogus comment.
        ("<!---->", [("Comment", "")]),
        ("<!DocType html>", [("DOCTYPE", "html", None, None)]),
        ("<!DOCTYP", [PE, ("Comment", "DOCTYP")]),
        ("<!DOCTYP>z", [PE, ("Comment", "DOCTYP"), ("Character", "z")]),
        ("<!DOCTYPX html>", [PE, ("Comment", "DOCTYPX html")]),
        ("<!-x>", [PE, ("Comment", "-x")]),
        ("<!-", [PE, ("Comment", "-")]),
        ("<!", [PE, ("Comment", "")]),
        ("<!>a>", [PE, ("Comment", ">a")]),
        ("<!>", [PE, ("Comment", ">")]),
        ("<![CDATA[x]]>", [PE, ("Comment", "[CDATA[x]]")]),
        ("<!\0x>", [PE, ("Comment", "\ufffdx")]),
        ("<!\u00e9->", [PE, ("Comment", "\u00e9-")]),
        # Comment start state.
        ("<!-->", [PE, ("Comment", "")]),
        ("<!--\0-->", [PE, ("Comment", "\ufffd")]),
        ("<!--", [PE, ("Comment", "")]),
        ("<!--a-->b", [("Comment", "a"), ("Character", "b")]),
        # Comment start dash state.
        ("<!--->", [PE, ("Comment", "")]),
        ("<!---\0-->", [PE, ("Comment", "-\ufffd")]),
        ("<!---", [PE, ("Comment", "")]),
        ("<!---a-->", [("Comment", "-a")]),
        # Comment state.
        ("<!--a-b-->", [("Comment", "a-b")]),
        ("<!--a\0b-->", [PE, ("Comment", "a\ufffdb")]),
        ("<!--a", [PE, ("Comment", "a")]),
        ("<!--a>b<!c\r\n-->", [("Comment", "a>b<!c\r\n")]),
        # Comment end dash state.
        ("<!--a-\0-->", [PE, ("Comment", "a-\ufffd")]),
        ("<!--a-", [PE, ("Comment", "a")]),
        # Comment end state.
        ("<!--a--\0-->", [PE, ("Comment", "a--\ufffd")]),
        ("<!--a--!>", [PE, ("Comment", "a")]),
        ("<!--a---->", [PE, PE, ("Comment", "a--")]),
        ("<!--a--", [PE, ("Comment", "a")]),
        ("<!--a--b-->", [PE, ("Comment", "a--b")]),
        ("<!-- -- -->", [PE, ("Comment", " -- ")]),
        # Comment end bang state.
        ("<!--a--!-->", [PE, ("Comment", "a--!")]),
        ("<!--a--!\0-->", [PE, PE, ("Comment", "a--!\ufffd")]),
        ("<!--a--!", [PE, PE, ("Comment", "a")]),
        ("<!--a--!b-->", [PE, ("Comment", "a--!b")]),
        ("<!--a--!--!>", [PE, PE, ("Comment", "a--!")]),
        # Bogus comments, opened by "<!", "<?" and "</" followed by a non-letter.
        ("<?xml?>", [PE, ("Comment", "?xml?")]),
        ("<?x\0y>z", [PE, ("Comment", "?x\ufffdy"), ("Character", "z")]),
        ("<?x", [PE, ("Comment", "?x")]),
        ("<?", [PE, ("Comment", "?")]),
        ("</ x>", [PE, ("Comment", " x")]),
        ("</\0x>", [PE, ("Comment", "\ufffdx")]),
        ("</1", [PE, ("Comment", "1")]),
        ("<!x-->y<!-z-->", [PE, ("Comment", "x--"), ("Character", "y"), PE, ("Comment", "-z--")]),
    ],
)
def test_comment(document, expected):
    assert tokens(document) == expected


@pytest.mark.parametrize(
    "opening, closing, length", [("<!--", "-->", 1024), ("<!--", "-->", 1025), ("<!", ">", 1025)]
)
def test_long_comment_is_delivered_whole(opening, closing, length):
    text = "".join(chr(0x41 + i % 26) for i in range(length))
    bogus = [PE] if opening == "<!" else []
    assert tokens(opening + text + closing) == bogus + [("Comment", text)]
