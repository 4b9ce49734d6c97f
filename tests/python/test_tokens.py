"""Tokens where the html5lib suite says nothing: CR as an ordinary code point (the suite normalises
newlines, this tokenizer does not), tokens far longer than their inline storage, repeated attribute names
among many attributes, every named reference of the table in text, references in every kind of attribute
value and spelled with overlong bytes, names recurring often enough to collide in the bridge's table of
recent names, and what OnStartTag receives."""

import html.entities
import random

import pytest
from recording import PE, C, E, S, tokens


def doctype(name, public_id=None, system_id=None):
    return ("DOCTYPE", name, public_id, system_id)


# Letters and symbols without case, so that the upper-case spelling lowers back to LONG.
LONG = "".join(chr(0x1F300 + i % 256) if i % 7 == 3 else chr(0x61 + i % 26) for i in range(3000))


@pytest.mark.parametrize(
    "document, expected",
    [
        # CR is no whitespace: it stays in every name, value, comment and text.
        (
            "<a\rb \rc=\rd e='\r'\rf>x\r\n",
            [PE, S("a\rb", {"\rc": "\rd", "e": "\r", "\rf": ""}), C("x\r\n")],
        ),
        ("<a b \r=c>", [S("a", {"b": "", "\r": "c"})]),
        ("<!--\r--><!\r>", [("Comment", "\r"), PE, ("Comment", "\r")]),
        ("<!DOCTYPE\rhtml\r>", [PE, doctype("\rhtml\r")]),
        ("<!DOCTYPE html \rPUBLIC 'a'>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC\r'a'>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC \r'a'>", [PE, doctype("html")]),
        ("<!DOCTYPE html PUBLIC 'a'\r'b'>", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html PUBLIC 'a' \r'b'>", [PE, doctype("html", "a")]),
        ("<!DOCTYPE html SYSTEM\r'b'>", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM \r'b'>", [PE, doctype("html")]),
        ("<!DOCTYPE html SYSTEM 'b'\r>", [PE, doctype("html", None, "b")]),
        # Every token buffer grown far past its inline room; a token after long ones has only its own fields.
        (
            f"<{LONG.upper()} {LONG}={LONG} b='{LONG}' c=\"{LONG}\"></{LONG}>",
            [S(LONG, {LONG: LONG, "b": LONG, "c": LONG}), E(LONG)],
        ),
        (f"<!--{LONG}--><!{LONG}><!--x-->", [("Comment", LONG), PE, ("Comment", LONG), ("Comment", "x")]),
        (
            f"<!DOCTYPE {LONG} PUBLIC '{LONG}' '{LONG}'><!DOCTYPE b SYSTEM ''><!DOCTYPE>",
            [doctype(LONG, LONG, LONG), doctype("b", None, ""), PE, PE, doctype(None)],
        ),
        (
            f"<a b='{LONG}'><!DOCTYPE b PUBLIC ''><!--{LONG}--><!DOCTYPE c>",
            [S("a", {"b": LONG}), doctype("b", ""), ("Comment", LONG), doctype("c")],
        ),
        # A repeated name (ASCII letters folded) is a parse error; its attribute goes, the first one stays.
        ("<a x=1 y=2 x=3 X='4' x>", [PE, PE, PE, S("a", {"x": "1", "y": "2"})]),
        ("<a \u00c9=1 \u00e9=2 \u00c9=3>", [PE, S("a", {"\u00c9": "1", "\u00e9": "2"})]),
        # The dropped value still reports its own parse errors.
        ('<a x=1 x=2"3 y>', [PE, PE, S("a", {"x": "1", "y": ""})]),
        ("<a x=1 x='&amp;&#0;&foo;' y>", [PE, PE, PE, S("a", {"x": "1", "y": ""})]),
        ("<a x=1 x", [PE, PE]),
        ("</a x=1 x=2>", [PE, PE, E("a")]),
        # Text references whose longest name breaks off, and unknown names.
        ("&notit;&notin;&notinva;&ampamp;", [PE, C("\u00acit;\u2209\u2209"), PE, C("&amp;")]),
        ("&ltimes;&lt;imes&not;in;", [C("\u22c9<imes\u00acin;")]),
        ("&CounterClockwiseContourIntegra;", [PE, C("&CounterClockwiseContourIntegra;")]),
        ("x&" + "z" * 40 + ";y&foo&bar;", [C("x"), PE, C("&" + "z" * 40 + ";y&foo"), PE, C("&bar;")]),
        # Digit runs far longer than any code point needs never wrap around.
        ("&#" + "9" * 10000 + ";", [PE, C("\ufffd")]),
        ("&#x" + "0" * 10000 + "10FFFD;", [C("\U0010fffd")]),
        ("&#1114111" + "0" * 10000 + ";", [PE, C("\ufffd")]),
        # Overlong forms decode to ASCII, and a reference is made of code points: C0 BB is ";", C1 AF is "o".
        (b"&amp\xc0\xbb&f\xc1\xafo;", [C("&"), PE, C("&foo;")]),
        (b"&f\xc1\xafo\xc0\xbb&foo\xc3\xa9;", [PE, C("&foo;&foo\u00e9;")]),
    ],
)
def test_tokens(document, expected):
    assert tokens(document) == expected


# Every name of the table, with what may follow it, far from the end of the input (one document holds them
# all) and at it (each alone): the text is what the standard library's html.unescape makes of it, which
# resolves references in text by the same rules.
@pytest.mark.parametrize("after", ["", ";", "x", "1;", "=", " " + "y" * 40])
def test_every_named_reference_in_text(after):
    pieces = [f"&{name}{after}|" for name in sorted(html.entities.html5)]
    documents = ["".join(pieces)] + [piece[:-1] for piece in pieces]
    for document in documents:
        text = "".join(event[1] for event in tokens(document) if event != PE)
        assert text == html.unescape(document), document[:40]


# (value as written, delivered value, parse errors): the same in every kind of value.
@pytest.mark.parametrize(
    "written, value, errors",
    [
        ("&amp;&#65;&#x42;&notin;", "&AB\u2209", 0),
        # A name without ";" before "=" or an alphanumeric stays as written, with no parse error.
        ("&copy=2&copyx&notin=", "&copy=2&copyx&notin=", 0),
        ("&amp&ampx", "&&ampx", 1),
        # Before anything else it is resolved, with one parse error.
        ("&copy-2", "\u00a9-2", 1),
        ("&foo;&;&#xZ", "&foo;&;&#xZ", 2),
    ],
)
@pytest.mark.parametrize("quote", ['"', "'", ""])
def test_reference_in_value(quote, written, value, errors):
    if not quote:
        errors += written.count("=")  # "=" in an unquoted value is a parse error of its own
    assert tokens(f"<a b={quote}{written}{quote}>") == [PE] * errors + [S("a", {"b": value})]


def drawn(draw, distinct):
    """Names drawn from a pool: repeats fall before and after a tag has enough attributes to index them."""
    rng = random.Random(draw)
    pool = [f"n{i}" for i in range(distinct)] + [f"N{i}" for i in range(distinct)]
    return [rng.choice(pool) for _ in range(3 * distinct)]


@pytest.mark.parametrize("names", [drawn(0, 20), drawn(1, 40), drawn(2, 300)], ids=["20", "40", "300"])
def test_repeats_among_many_attributes(names):
    kept: dict[str, str] = {}
    for i, name in enumerate(names):
        kept.setdefault(name.lower(), str(i))
    document = "<a " + " ".join(f"{name}='{i}'" for i, name in enumerate(names)) + ">"
    assert tokens(document) == [PE] * (len(names) - len(kept)) + [S("a", kept)]


def test_recurring_names_are_reported_exactly():
    rng = random.Random(7)
    names = ["x" + "".join(rng.choice("abcdef\u00e9") for _ in range(rng.randrange(40))) for _ in range(3000)]
    document = "".join(f"<{n} {n}={i}></{n}>" for i, n in enumerate(names * 2))
    expected = [[("StartTag", n, {n: str(i)}, False), ("EndTag", n)] for i, n in enumerate(names * 2)]
    assert tokens(document) == [event for pair in expected for event in pair]


def test_start_tag_delivers_a_dict_in_document_order_and_a_bool():
    events = tokens("<a z=1 B='2' y=\"\u00e9\U0001f600\" x><br/>")
    assert [(name, list(attributes.items()), closing) for _, name, attributes, closing in events] == [
        ("a", [("z", "1"), ("b", "2"), ("y", "\u00e9\U0001f600"), ("x", "")], False),
        ("br", [], True),
    ]
    assert {
        type(text) for _, name, attributes, _ in events for text in (name, *attributes, *attributes.values())
    } == {str}
    assert {type(closing) for *_, closing in events} == {bool}
