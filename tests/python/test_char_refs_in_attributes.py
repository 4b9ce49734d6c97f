"""Character references in attribute values: double-quoted, single-quoted and unquoted."""

import pytest
from recording import tokens

E = ("ParseError",)


def tag(value: str) -> tuple:
    return ("StartTag", "a", {"b": value}, False)


# (value as written, delivered value, parse errors): the same in every kind of value.
VALUES = [
    ("&amp;", "&", 0),
    ("x&lt;y&gt;z", "x<y>z", 0),
    ("&#65;&#x42;", "AB", 0),
    ("&#65", "A", 1),
    ("&#128;", "\u20ac", 1),
    ("&#;", "&#;", 1),
    ("&#xZ", "&#xZ", 1),
    ("&NotEqualTilde;", "\u2242\u0338", 0),
    ("&notin;", "\u2209", 0),
    # A name without ";" before "=" or an alphanumeric stays as written, with no parse error.
    ("&copy=2", "&copy=2", 0),
    ("&copyx", "&copyx", 0),
    ("&copy2", "&copy2", 0),
    ("&notin=", "&notin=", 0),
    ("&notit;", "&notit;", 0),
    ("&amp&ampx", "&&ampx", 1),
    # Before anything else it is resolved, with one parse error.
    ("&copy-2", "\u00a9-2", 1),
    ("&copy&", "\u00a9&", 1),
    ("&lt/", "</", 1),
    # With ";" the rule does not apply.
    ("&copy;=2", "\u00a9=2", 0),
    ("&copy;x", "\u00a9x", 0),
    # No name: alphanumerics and ";" ahead is a parse error; the text stays.
    ("&foo;", "&foo;", 1),
    ("&foo", "&foo", 0),
    ("&;", "&;", 0),
    ("&&", "&&", 0),
]


@pytest.mark.parametrize("written, value, errors", VALUES)
@pytest.mark.parametrize("quote", ['"', "'", ""])
def test_reference_in_value(quote, written, value, errors):
    if not quote:
        errors += written.count("=")  # "=" in an unquoted value is a parse error of its own
    assert tokens(f"<a b={quote}{written}{quote}>") == [E] * errors + [tag(value)]


# (document, events): the end of each kind of value, and its additional
# allowed character: "&" directly before it is a plain "&", with no parse error.
CASES = [
    ('<a b="&">', [tag("&")]),
    ("<a b='&'>", [tag("&")]),
    ("<a b=&>", [tag("&")]),
    ("<a b=&&>", [tag("&&")]),
    # The characters that end another kind of value are no references here.
    ('<a b="&\'">', [tag("&'")]),
    ("<a b='&\"'>", [tag('&"')]),
    ('<a b="&>">', [tag("&>")]),
    ("<a b='&>'>", [tag("&>")]),
    # Before whitespace or "<" there is no reference either.
    ('<a b="& &\t&<">', [tag("& &\t&<")]),
    ("<a b=& c>", [("StartTag", "a", {"b": "&", "c": ""}, False)]),
    # A name without ";" at the end of the value: resolved, one parse error.
    ('<a b="&copy">', [E, tag("\u00a9")]),
    ("<a b='&copy'>", [E, tag("\u00a9")]),
    ("<a b=&copy>", [E, tag("\u00a9")]),
    ("<a b=&copy c>", [E, ("StartTag", "a", {"b": "\u00a9", "c": ""}, False)]),
    ('<a b="&copy 2">', [E, tag("\u00a9 2")]),
    # References in several attributes, and text references around the tag.
    (
        '&lt;<a b="&gt;" c=&amp;>&gt',
        [("Character", "<"), ("StartTag", "a", {"b": ">", "c": "&"}, False), E, ("Character", ">")],
    ),
]


@pytest.mark.parametrize("document, expected", CASES)
def test_value_ends_and_allowed_characters(document, expected):
    assert tokens(document) == expected
