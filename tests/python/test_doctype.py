"""DOCTYPE tokens: name, public and system identifiers, missing fields as None."""

import pytest
from recording import tokens

PE = ("ParseError",)


def doctype(name, public_id=None, system_id=None):
    return ("DOCTYPE", name, public_id, system_id)


@pytest.mark.parametrize(
    "document, expected",
    [
        # DOCTYPE state.
        ("<!DOCTYPE html>", [doctype("html")]),
        ("<!DOCTYPE", [PE, doctype(None)]),
        ("<!DOCTYPEhtml>", [PE, doctype("html")]),
        ("<!DOCTYPE>", [PE, PE, doctype(None)]),
        ("<!DOCTYPE\rhtml>", [PE, doctype("\rhtml")]),
        # Before DOCTYPE name state.
        ("<!DOCTYPE HTML>", [doctype("html")]),
        ("<!DOCTYPE \0x>", [PE, doctype("\ufffdx")]),
        ("<!DOCTYPE >z", [PE, doctype(None), ("Character", "z")]),
        ("<!DOCTYPE ", [PE, doctype(None)]),
        ("<!DOCTYPE \u00c9\u0130>", [doctype("\u00c9\u0130")]),
        ("<!DOCTYPE 'a'>", [doctype("'a'")]),
        # DOCTYPE name state.
        ("<!doctype hTmL>z", [doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE h\0>", [PE, doctype("h\ufffd")]),
        ("<!DOCTYPE html", [PE, doctype("html")]),
        ("<!DOCTYPE h\u00c9\r>", [doctype("h\u00c9\r")]),
        # After DOCTYPE name state and the PUBLIC / SYSTEM look-ahead.
        ("<!DOCTYPE html >", [doctype("html")]),
        ("<!DOCTYPE html ", [PE, doctype("html")]),
        ("<!DOCTYPE html FOO>z", [PE, doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE html PUBLI>z", [PE, doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE html SYSTE'b'>z", [PE, doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE html PUB", [PE, doctype("html")]),
        ("<!DOCTYPE html P", [PE, doctype("html")]),
        ("<!DOCTYPE html x>z", [PE, doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE html public 'a'>", [doctype("html", "a")]),
        ("<!DOCTYPE html sYsTeM 'b'>", [doctype("html", None, "b")]),
        # After DOCTYPE public keyword state.
        ('<!DOCTYPE html PUBLIC"a">', [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC'a'>", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLICK 'a'>", [PE, doctype("html")]),
        # Before DOCTYPE public identifier state.
        ('<!DOCTYPE html PUBLIC "a">', [doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC >", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC ", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC a 'b'>", [PE, doctype("html")]),
        # DOCTYPE public identifier (double-quoted) state.
        ('<!DOCTYPE html PUBLIC "a\0">', [PE, doctype("html", "a\ufffd")]),
        ('<!DOCTYPE html PUBLIC "a>z', [PE, doctype("html", "a"), ("Character", "z")]),
        ('<!DOCTYPE html PUBLIC "a', [PE, doctype("html", "a")]),
        ('<!DOCTYPE html PUBLIC "a\'\r">', [doctype("html", "a'\r")]),
        # DOCTYPE public identifier (single-quoted) state.
        ("<!DOCTYPE html PUBLIC 'a\0'>", [PE, doctype("html", "a\ufffd")]),
        ("<!DOCTYPE html PUBLIC 'a>z", [PE, doctype("html", "a"), ("Character", "z")]),
        ("<!DOCTYPE html PUBLIC 'a", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a\"'>", [doctype("html", 'a"')]),
        # After DOCTYPE public identifier state.
        ("<!DOCTYPE html PUBLIC 'a'>", [doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a'\"b\">", [PE, doctype("html", "a", "b")]),
        ("<!DOCTYPE html PUBLIC 'a''b'>", [PE, doctype("html", "a", "b")]),
        ("<!DOCTYPE html PUBLIC 'a'", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a'x'b'>", [PE, doctype("html", "a")]),
        # Between DOCTYPE public and system identifiers state.
        ("<!DOCTYPE html PUBLIC 'a' >", [doctype("html", "a")]),
        ('<!DOCTYPE html PUBLIC "a" "b">', [doctype("html", "a", "b")]),
        ("<!DOCTYPE html PUBLIC 'a' 'b'>", [doctype("html", "a", "b")]),
        ("<!DOCTYPE html PUBLIC 'a' ", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a' SYSTEM 'b'>", [PE, doctype("html", "a")]),
        # After DOCTYPE system keyword state.
        ("<!DOCTYPE html SYSTEM 'b'>", [doctype("html", None, "b")]),
        ('<!DOCTYPE html SYSTEM"b">', [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM'b'>", [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM>", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEMx 'b'>", [PE, doctype("html")]),
        # Before DOCTYPE system identifier state.
        ('<!DOCTYPE html SYSTEM "b">', [doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM >", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM ", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM b>", [PE, doctype("html")]),
        # DOCTYPE system identifier (double-quoted) state.
        ('<!DOCTYPE html SYSTEM "b\0">', [PE, doctype("html", None, "b\ufffd")]),
        ('<!DOCTYPE html SYSTEM "b>z', [PE, doctype("html", None, "b"), ("Character", "z")]),
        ('<!DOCTYPE html SYSTEM "b', [PE, doctype("html", None, "b")]),
        ('<!DOCTYPE html SYSTEM "b\'">', [doctype("html", None, "b'")]),
        # DOCTYPE system identifier (single-quoted) state.
        ("<!DOCTYPE html SYSTEM 'b\0'>", [PE, doctype("html", None, "b\ufffd")]),
        ("<!DOCTYPE html SYSTEM 'b>z", [PE, doctype("html", None, "b"), ("Character", "z")]),
        ("<!DOCTYPE html SYSTEM 'b", [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM 'b\"'>", [doctype("html", None, 'b"')]),
        # After DOCTYPE system identifier state.
        ("<!DOCTYPE html PUBLIC 'a' 'b' >", [doctype("html", "a", "b")]),
        ("<!DOCTYPE html SYSTEM 'b' ", [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM 'b' x>", [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html SYSTEM 'b''c'>", [PE, doctype("html", None, "b")]),
        # Bogus DOCTYPE state: no parse error of its own, nothing more is kept.
        ("<!DOCTYPE html x 'a' \0>z", [PE, doctype("html"), ("Character", "z")]),
        ("<!DOCTYPE html x", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC 'a' x 'b'", [PE, doctype("html", "a")]),
        # A present but empty identifier is "", a missing one None.
        ("<!DOCTYPE html PUBLIC ''>", [doctype("html", "", None)]),
        ('<!DOCTYPE html PUBLIC "" "">', [doctype("html", "", "")]),
        ("<!DOCTYPE html SYSTEM ''>", [doctype("html", None, "")]),
        # CR is not whitespace in any DOCTYPE state.
        ("<!DOCTYPE html\rPUBLIC 'a'>", [PE, doctype("html\rpublic")]),
        ("<!DOCTYPE html PUBLIC\r'a'>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC \r'a'>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC 'a'\r'b'>", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a' \r'b'>", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html SYSTEM\r'b'>", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM \r'b'>", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM 'b'\r>", [PE, doctype("html", None, "b")]),
        ("<!DOCTYPE html \r>", [PE, doctype("html")]),
    ],
)
def test_doctype(document, expected):
    assert tokens(document) == expected


# Each kind of whitespace through every DOCTYPE state that skips or ends on it.
@pytest.mark.parametrize("ws", ["\t", "\n", "\f", " "])
def test_whitespace_in_every_state(ws):
    assert tokens(f"<!DOCTYPE{ws}{ws}html{ws}{ws}PUBLIC{ws}{ws}'a'{ws}{ws}'b'{ws}{ws}>") == [
        doctype("html", "a", "b")
    ]
    assert tokens(f"<!DOCTYPE html{ws}SYSTEM{ws}{ws}'b'{ws}>") == [doctype("html", None, "b")]


@pytest.mark.parametrize(
    "name, public_id, system_id", [("abcd", "p" * 128, "abcd"), ("abcde", "p" * 129, "abcde")]
)
def test_long_fields_are_delivered_whole(name, public_id, system_id):
    document = f"<!DOCTYPE {name} PUBLIC '{public_id}' '{system_id}'>"
    assert tokens(document) == [doctype(name, public_id, system_id)]


LONG = "".join(chr(0x61 + i % 26) for i in range(1000))


# A DOCTYPE or comment after long tokens carries only its own fields: storage is shared between tokens.
@pytest.mark.parametrize(
    "document, expected",
    [
        ("<!DOCTYPE a PUBLIC 'p' 's'><!DOCTYPE b>", [doctype("a", "p", "s"), doctype("b")]),
        ("<!DOCTYPE a PUBLIC 'p' 's'><!DOCTYPE>", [doctype("a", "p", "s"), PE, PE, doctype(None)]),
        (
            f"<!DOCTYPE {LONG} PUBLIC '{LONG}' '{LONG}'><!DOCTYPE b PUBLIC ''>",
            [doctype(LONG, LONG, LONG), doctype("b", "", None)],
        ),
        (f"<!--{LONG}{LONG}--><!DOCTYPE b SYSTEM ''>", [("Comment", LONG + LONG), doctype("b", None, "")]),
        (
            f"<{LONG} b='{LONG}' c='{LONG}'><!DOCTYPE b>",
            [("StartTag", LONG, {"b": LONG, "c": LONG}, False), doctype("b")],
        ),
        (f"</{LONG}><!DOCTYPE", [("EndTag", LONG), PE, doctype(None)]),
        (f"<!--{LONG}{LONG}--><!--y-->", [("Comment", LONG + LONG), ("Comment", "y")]),
        (f"<!DOCTYPE {LONG}><!>", [doctype(LONG), PE, ("Comment", ">")]),
        (f"<a b='{LONG}'><!---->", [("StartTag", "a", {"b": LONG}, False), ("Comment", "")]),
    ],
)
def test_token_after_long_tokens_has_only_its_own_fields(document, expected):
    assert tokens(document) == expected
