import random

import pytest
from recording import tokens

PE = ("ParseError",)


def start(attributes, self_closing=False):
    return ("StartTag", "a", attributes, self_closing)


@pytest.mark.parametrize(
    "document, expected",
    [
        # Before attribute name state.
        ("<a />", [start({}, True)]),
        ("<a >", [start({})]),
        ("<a B>", [start({"b": ""})]),
        ("<a \0>", [PE, start({"\ufffd": ""})]),
        ('<a ">', [PE, start({'"': ""})]),
        ("<a '>", [PE, start({"'": ""})]),
        ("<a <>", [PE, start({"<": ""})]),
        ("<a =>", [PE, start({"=": ""})]),
        ("<a =b=c>", [PE, start({"=b": "c"})]),
        ("<a ", [PE]),
        ("<a \rb>", [start({"\rb": ""})]),
        ("<a `>", [start({"`": ""})]),
        # Attribute name state.
        ("<a b/>", [start({"b": ""}, True)]),
        ("<a b=c>", [start({"b": "c"})]),
        ("<a bCD>", [start({"bcd": ""})]),
        ("<a b\0>", [PE, start({"b\ufffd": ""})]),
        ('<a b">', [PE, start({'b"': ""})]),
        ("<a b'>", [PE, start({"b'": ""})]),
        ("<a b<>", [PE, start({"b<": ""})]),
        ("<a b", [PE]),
        ("<a b`\r\u00c9>", [start({"b`\r\u00c9": ""})]),
        # After attribute name state.
        ("<a b />", [start({"b": ""}, True)]),
        ("<a b = c>", [start({"b": "c"})]),
        ("<a b >", [start({"b": ""})]),
        ("<a b C>", [start({"b": "", "c": ""})]),
        ("<a b \0>", [PE, start({"b": "", "\ufffd": ""})]),
        ('<a b ">', [PE, start({"b": "", '"': ""})]),
        ("<a b '>", [PE, start({"b": "", "'": ""})]),
        ("<a b <>", [PE, start({"b": "", "<": ""})]),
        ("<a b ", [PE]),
        ("<a b \r>", [start({"b": "", "\r": ""})]),
        # Before attribute value state.
        ('<a b="c">', [start({"b": "c"})]),
        ("<a b='c'>", [start({"b": "c"})]),
        ("<a b=\0>", [PE, start({"b": "\ufffd"})]),
        ("<a b=>", [PE, start({"b": ""})]),
        ("<a b=<>", [PE, start({"b": "<"})]),
        ("<a b==>", [PE, start({"b": "="})]),
        ("<a b=`>", [PE, start({"b": "`"})]),
        ("<a b=", [PE]),
        ("<a b=/>", [start({"b": "/"})]),
        ("<a b=\r>", [start({"b": "\r"})]),
        # Attribute value (double-quoted) state.
        ('<a b="">', [start({"b": ""})]),
        ('<a b="\0">', [PE, start({"b": "\ufffd"})]),
        ('<a b="c', [PE]),
        ('<a b="c\t\'<>=`\r/ D">', [start({"b": "c\t'<>=`\r/ D"})]),
        # Attribute value (single-quoted) state.
        ("<a b=''>", [start({"b": ""})]),
        ("<a b='\0'>", [PE, start({"b": "\ufffd"})]),
        ("<a b='c", [PE]),
        ("<a b='c\t\"<>=`\r/ D'>", [start({"b": 'c\t"<>=`\r/ D'})]),
        # Attribute value (unquoted) state.
        ("<a b=cD>x", [start({"b": "cD"}), ("Character", "x")]),
        ("<a b=c\0>", [PE, start({"b": "c\ufffd"})]),
        ('<a b=c">', [PE, start({"b": 'c"'})]),
        ("<a b=c'>", [PE, start({"b": "c'"})]),
        ("<a b=c<>", [PE, start({"b": "c<"})]),
        ("<a b=c=>", [PE, start({"b": "c="})]),
        ("<a b=c`>", [PE, start({"b": "c`"})]),
        ("<a b=c", [PE]),
        ("<a b=c/d>", [start({"b": "c/d"})]),
        ("<a b=c/>", [start({"b": "c/"})]),
        ("<a b=c\rd>", [start({"b": "c\rd"})]),
        # After attribute value (quoted) state.
        ("<a b='c'/>", [start({"b": "c"}, True)]),
        ("<a b='c'", [PE]),
        ("<a b='c'd='e'>", [PE, start({"b": "c", "d": "e"})]),
        ('<a b="c"D>', [PE, start({"b": "c", "d": ""})]),
        ("<a b='c'\0>", [PE, PE, start({"b": "c", "\ufffd": ""})]),
        ("<a b='c'\r>", [PE, start({"b": "c", "\r": ""})]),
        ("<a b='c'=>", [PE, PE, start({"b": "c", "=": ""})]),
    ],
)
def test_attribute_states(document, expected):
    assert tokens(document) == expected


# Each kind of whitespace through every tag and attribute state that skips or ends on it.
@pytest.mark.parametrize("ws", ["\t", "\n", "\f", " "])
def test_whitespace_in_every_state(ws):
    assert tokens(f"<a{ws}{ws}b{ws}{ws}={ws}c{ws}d='e'{ws}f{ws}>") == [start({"b": "c", "d": "e", "f": ""})]


@pytest.mark.parametrize(
    "document, expected",
    [
        # Each way out of the attribute name state runs the check.
        ("<a x=1 x\ty=2>", [PE, start({"x": "1", "y": "2"})]),
        ("<a x=1 x/>", [PE, start({"x": "1"}, True)]),
        ("<a x=1 x=2>", [PE, start({"x": "1"})]),
        ("<a x=1 x>", [PE, start({"x": "1"})]),
        ("<a x=1 x", [PE, PE]),
        # The repeat goes, with its value; every other attribute stays.
        ("<a x=1 y=2 x=3>", [PE, start({"x": "1", "y": "2"})]),
        ("<a x=1 x=2 z=3>", [PE, start({"x": "1", "z": "3"})]),
        ("<a x=1 x='2'z=3>", [PE, PE, start({"x": "1", "z": "3"})]),
        ("<a x x x>", [PE, PE, start({"x": ""})]),
        ("<a X=1 x=2>", [PE, start({"x": "1"})]),
        ("<a x=1 xx=2 x=3 xy=4>", [PE, start({"x": "1", "xx": "2", "xy": "4"})]),
        ("<a \u00c9=1 \u00e9=2 \u00c9=3>", [PE, start({"\u00c9": "1", "\u00e9": "2"})]),
        ("<a \0=1 \0=2>", [PE, PE, PE, start({"\ufffd": "1"})]),
        # The dropped value still reports its own parse errors.
        ('<a x=1 x=2"3 y>', [PE, PE, start({"x": "1", "y": ""})]),
        ("<a x=1 x='\0' y>", [PE, PE, start({"x": "1", "y": ""})]),
        ("<a x=1 x=", [PE, PE]),
        ("<a x=1 x='2'", [PE, PE]),
        ("<a x=1 x='&amp;&#0;&foo;' y>", [PE, PE, PE, start({"x": "1", "y": ""})]),
        (f"<a {'n' * 40}=1 {'n' * 40}='{'v' * 300}'>", [PE, start({"n" * 40: "1"})]),
        # End tags: the repeat, then the attributes themselves.
        ("</a x=1 x=2>", [PE, PE, ("EndTag", "a")]),
        ("</a x x/>", [PE, PE, PE, ("EndTag", "a")]),
    ],
)
def test_repeated_attribute_names(document, expected):
    assert tokens(document) == expected


def tag(attributes):
    return "<a " + " ".join(f"{name}='{value}'" for name, value in attributes) + ">"


@pytest.mark.parametrize("count", [8, 9, 17, 100])
def test_many_attributes_are_delivered_whole(count):
    attributes = [(f"n{i}", f"v{i}") for i in range(count)]
    assert tokens(tag(attributes)) == [start(dict(attributes))]


@pytest.mark.parametrize("name_length, value_length", [(16, 128), (17, 129)])
def test_long_names_and_values_are_delivered_whole(name_length, value_length):
    # Two attributes each, so that the second one starts after the first has grown.
    name = "".join(chr(0x61 + i % 26) for i in range(name_length))
    value = "".join(chr(0x10000 + i) for i in range(value_length))
    attributes = [(name, value), (name.upper() + "\u00e9", value[::-1])]
    assert tokens(tag(attributes)) == [start({name: value, name + "\u00e9": value[::-1]})]


def drawn(draw, distinct):
    """Names drawn from a pool, so that repeats fall both before and after the point where a tag has
    enough attributes to index their names."""
    rng = random.Random(draw)
    pool = [f"n{i}" for i in range(distinct)] + [f"N{i}" for i in range(distinct)]
    return [rng.choice(pool) for _ in range(3 * distinct)]


@pytest.mark.parametrize(
    "names",
    [
        drawn(0, 20),
        drawn(1, 40),
        drawn(2, 300),
        [f"n{i}" for i in range(100_000)],
        ["x"] * 100_000,
        [f"n{i % 1000}" for i in range(100_000)],
    ],
    ids=["20 names", "40 names", "300 names", "100000 distinct", "100000 repeats", "100000 of 1000 names"],
)
def test_repeats_among_many_attributes(names):
    kept: dict[str, str] = {}
    for i, name in enumerate(names):
        kept.setdefault(name.lower(), str(i))
    repeats = len(names) - len(kept)
    assert tokens(tag((name, str(i)) for i, name in enumerate(names))) == [PE] * repeats + [start(kept)]
