import random

import htmltess
import pytest
from recording import tokens

PE = ("ParseError",)


def start(attributes, self_closing=False):
    return ("StartTag", "a", attributes, self_closing)


@pytest.mark.parametrize(
    "document, expected",
    [
        # Before attribute name state.
        ("<a \t\n\f b>", [start({"b": ""})]),
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
        ("<a b\tc>", [start({"b": "", "c": ""})]),
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
        ("<a b \t\n\f c>", [start({"b": "", "c": ""})]),
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
        ("<a b= \t\n\f'c'>", [start({"b": "c"})]),
        ('<a b="c">', [start({"b": "c"})]),
        ("<a b='c'>", [start({"b": "c"})]),
        ("<a b=\0>", [PE, start({"b": "\ufffd"})]),
        ("<a b=>", [PE, start({"b": ""})]),
        ("<a b=>c", [PE, start({"b": ""}), ("Character", "c")]),
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
        ("<a b=c\td>", [start({"b": "c", "d": ""})]),
        ("<a b=c\nd=e>", [start({"b": "c", "d": "e"})]),
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
        ("<a b='c'\td>", [start({"b": "c", "d": ""})]),
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
        # End tags: the repeat, then the attributes themselves.
        ("</a x=1 x=2>", [PE, PE, ("EndTag", "a")]),
        ("</a x x/>", [PE, PE, PE, ("EndTag", "a")]),
    ],
)
def test_repeated_attribute_names(document, expected):
    assert tokens(document) == expected


# Inputs where "&" hands over to character references: here they only have to
# run through.
@pytest.mark.parametrize(
    "document", ["<a b=&>", "<a b=&amp>", "<a b='&'>", '<a b="&">', "<a b=c&", "<a b='&#", "<a x=1 x=&amp;>"]
)
def test_ampersand_hands_over(document):
    tokens(document)


def tag(attributes):
    return "<a " + " ".join(f"{name}='{value}'" for name, value in attributes) + ">"


@pytest.mark.parametrize("count", [8, 9, 16, 17, 100])
def test_many_attributes_are_delivered_whole(count):
    attributes = [(f"n{i}", f"v{i}") for i in range(count)]
    assert tokens(tag(attributes)) == [start(dict(attributes))]


@pytest.mark.parametrize("name_length", [16, 17, 100])
@pytest.mark.parametrize("value_length", [128, 129, 1000])
def test_long_names_and_values_are_delivered_whole(name_length, value_length):
    # Two attributes each, so that the second one starts after the first has grown.
    name = "".join(chr(0x61 + i % 26) for i in range(name_length))
    value = "".join(chr(0x10000 + i) for i in range(value_length))
    attributes = [(name, value), (name.upper() + "\u00e9", value[::-1])]
    expected = {name: value, name + "\u00e9": value[::-1]}
    assert tokens(tag(attributes)) == [start(expected)]


def test_long_repeated_name_with_long_value_is_dropped():
    name = "n" * 40
    value = "v" * 300
    assert tokens(tag([(name, value), (name, value + "w"), ("b", value)])) == [
        PE,
        start({name: value, "b": value}),
    ]


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("distinct", [20, 40, 300])
def test_repeats_among_many_attributes(seed, distinct):
    # Names drawn from a pool, so repeats fall both before and after the point
    # where a tag has enough attributes to index their names.
    rng = random.Random(seed)
    pool = [f"n{i}" for i in range(distinct)] + [f"n{i}".upper() for i in range(distinct)]
    attributes = [(rng.choice(pool), str(i)) for i in range(3 * distinct)]
    kept: dict[str, str] = {}
    for name, value in attributes:
        kept.setdefault(name.lower(), value)
    repeats = len(attributes) - len(kept)
    assert tokens(tag(attributes)) == [PE] * repeats + [start(kept)]


class Counter(htmltess.HtmlHandler):
    def __init__(self):
        self.errors = 0
        self.attributes: dict[str, str] = {}

    def OnParseError(self):
        self.errors += 1

    def OnStartTag(self, name, attributes, self_closing):
        self.attributes = dict(attributes)


def count(document):
    counter = Counter()
    htmltess.html_parse_string(counter, document)
    return counter.errors, counter.attributes


def test_hundred_thousand_distinct_attributes():
    errors, attributes = count(tag((f"n{i}", str(i)) for i in range(100_000)))
    assert errors == 0
    assert len(attributes) == 100_000
    assert attributes["n0"] == "0" and attributes["n99999"] == "99999"


def test_hundred_thousand_repeats_of_one_name():
    errors, attributes = count("<a" + " x=1" + " x=2" * 99_999 + ">")
    assert (errors, attributes) == (99_999, {"x": "1"})


def test_hundred_thousand_repeats_of_many_names():
    names = [f"n{i}" for i in range(1000)]
    errors, attributes = count(tag((names[i % 1000], str(i)) for i in range(100_000)))
    assert errors == 99_000
    assert attributes == {name: str(i) for i, name in enumerate(names)}


class Keeper(htmltess.HtmlHandler):
    def __init__(self):
        self.calls = []

    def OnStartTag(self, name, attributes, self_closing):
        self.calls.append((name, attributes, list(attributes.items()), self_closing))


def test_start_tag_dict():
    keeper = Keeper()
    htmltess.html_parse_string(keeper, "<a z=1 B='2' y=\"\u00e9\U0001f600\" x>")
    ((name, kept, items, self_closing),) = keeper.calls
    assert name == "a" and self_closing is False
    assert items == [("z", "1"), ("b", "2"), ("y", "\u00e9\U0001f600"), ("x", "")]
    assert all(type(key) is str and type(value) is str for key, value in items)
    assert type(kept) is dict and kept == {}
