"""Character references in text and in attribute values: the dispatch after "&", numeric and named
references."""

from html.entities import html5

import pytest
from recording import merge_characters, tokens

E = ("ParseError",)


def C(text: str) -> tuple:
    return ("Character", text)


# (document, events). A reference that is not resolved leaves "&" and every
# code point after it in the text, exactly as written.
CASES = [
    # "&" before whitespace, "&" or the end of input: no reference, no parse error.
    ("&\tx", [C("&\tx")]),
    ("&\nx", [C("&\nx")]),
    ("&\fx", [C("&\fx")]),
    ("& x", [C("& x")]),
    ("&&amp;", [C("&&")]),
    ("&<b>x", [C("&"), ("StartTag", "b", {}, False), C("x")]),
    ("a&", [C("a&")]),
    # "&#" or "&#x" / "&#X" with no digit of the base: one parse error, nothing consumed.
    ("&#", [E, C("&#")]),
    ("&#;", [E, C("&#;")]),
    ("&#a;", [E, C("&#a;")]),
    ("&#x", [E, C("&#x")]),
    ("&#X;", [E, C("&#X;")]),
    ("&#xg", [E, C("&#xg")]),
    ("&#x;b", [E, C("&#x;b")]),
    ("&# 1;", [E, C("&# 1;")]),
    ("a&#-1;b", [C("a"), E, C("&#-1;b")]),
    # Digits without ";": one parse error; what ended the run is read next.
    ("&#65 ", [E, C("A ")]),
    ("&#65", [E, C("A")]),
    ("&#65x;", [E, C("Ax;")]),
    ("&#x41g", [E, C("Ag")]),
    ("&#x6a;&#x6A;", [C("jj")]),
    ("&#65&#66;", [E, C("AB")]),
    # A number that is replaced or out of range: one parse error where it stands (numbers of every
    # kind below).
    ("a&#128;b", [C("a"), E, C("\u20acb")]),
    # Two faults: the missing ";" is reported first, then the number's.
    ("&#128 ", [E, E, C("\u20ac ")]),
    ("&#0", [E, E, C("\ufffd")]),
    ("&#xD800x", [E, E, C("\ufffdx")]),
    ("&#1114112 ", [E, E, C("\ufffd ")]),
    ("&#xFFFF", [E, E, C("\uffff")]),
    # Named: a name with ";" needs nothing more.
    ("&amp;&AMP;", [C("&&")]),
    ("&notin;", [C("\u2209")]),
    ("&NotEqualTilde;", [C("\u2242\u0338")]),
    ("&fjlig;", [C("fj")]),
    ("&CounterClockwiseContourIntegral;", [C("\u2233")]),
    ("&frac12;&frac14;", [C("\u00bd\u00bc")]),
    # A name without ";" in text: one parse error; what follows the name stays.
    ("&amp x", [E, C("& x")]),
    ("&lt", [E, C("<")]),
    ("&LT;&LT", [C("<"), E, C("<")]),
    ("&copyx", [E, C("\u00a9x")]),
    ("&notit;", [E, C("\u00acit;")]),
    ("&notin", [E, C("\u00acin")]),
    ("&ampamp;", [E, C("&amp;")]),
    ("&amp\u00e9", [E, C("&\u00e9")]),
    ("&frac123", [E, C("\u00bd3")]),
    ("&amp&lt;", [E, C("&<")]),
    ("a&gt=b", [C("a"), E, C(">=b")]),
    # The longest name wins, and a shorter one is taken where a longer breaks off.
    ("&notinva;", [C("\u2209")]),
    ("&notinE;", [C("\u22f9\u0338")]),
    ("&ltimes;&lt;imes", [C("\u22c9<imes")]),
    ("&not;in;", [C("\u00acin;")]),
    ("&CounterClockwiseContourIntegra;", [E, C("&CounterClockwiseContourIntegra;")]),
    # No name, but alphanumerics and ";" ahead: one parse error, nothing consumed.
    ("&foo;", [E, C("&foo;")]),
    ("&Amp;", [E, C("&Amp;")]),
    ("&aMp;", [E, C("&aMp;")]),
    ("&12;", [E, C("&12;")]),
    ("&CounterClockwiseContourIntegralX;", [E, C("&CounterClockwiseContourIntegralX;")]),
    ("x&" + "z" * 40 + ";y", [C("x"), E, C("&" + "z" * 40 + ";y")]),
    # No name otherwise: no parse error, nothing consumed.
    ("&foo ", [C("&foo ")]),
    ("&foo", [C("&foo")]),
    ("&;", [C("&;")]),
    ("&foo&bar;", [C("&foo"), E, C("&bar;")]),
    ("&\u00e9;", [C("&\u00e9;")]),
    ("&foo\u00e9;", [C("&foo\u00e9;")]),
    ("&CounterClockwiseContourIntegral", [C("&CounterClockwiseContourIntegral")]),
    ("&\0", [C("&"), E, C("\0")]),
]


@pytest.mark.parametrize("document, expected", CASES)
def test_reference_in_text(document, expected):
    assert tokens(document) == expected


# Overlong forms decode to ASCII, and a reference is made of code points, not bytes:
# C0 BB is ";" and C1 AF is "o".
@pytest.mark.parametrize(
    "document, expected",
    [
        (b"&amp\xc0\xbb", [C("&")]),
        (b"&f\xc1\xafo;", [E, C("&foo;")]),
        (b"&f\xc1\xafo\xc0\xbb", [E, C("&foo;")]),
        (b"&foo\xc3\xa9;", [C("&foo\u00e9;")]),
    ],
)
def test_reference_spelled_with_overlong_forms(document, expected):
    assert tokens(document) == expected


# (number, code point delivered, parse errors): each range at its boundaries, also for 2**64 + 0x41.
NUMBERS = [
    (0x00, 0xFFFD, 1),
    (0x01, 0x01, 1),
    (0x08, 0x08, 1),
    (0x09, 0x09, 0),
    (0x0A, 0x0A, 0),
    (0x0B, 0x0B, 1),
    (0x0C, 0x0C, 0),
    (0x0D, 0x0D, 1),
    (0x0E, 0x0E, 1),
    (0x1F, 0x1F, 1),
    (0x20, 0x20, 0),
    (0x7E, 0x7E, 0),
    (0x7F, 0x7F, 1),
    (0x80, 0x20AC, 1),
    (0x9F, 0x178, 1),
    (0xA0, 0xA0, 0),
    (0xD7FF, 0xD7FF, 0),
    (0xD800, 0xFFFD, 1),
    (0xDFFF, 0xFFFD, 1),
    (0xE000, 0xE000, 0),
    (0xFDCF, 0xFDCF, 0),
    (0xFDD0, 0xFDD0, 1),
    (0xFDEF, 0xFDEF, 1),
    (0xFDF0, 0xFDF0, 0),
    (0x10FFFF, 0x10FFFF, 1),
    (0x110000, 0xFFFD, 1),
    (0xFFFFFFFF, 0xFFFD, 1),
    (2**64 + 0x41, 0xFFFD, 1),
]
# The last two code points of every plane, and the one before them.
NUMBERS += [
    (plane + low, plane + low, int(low != 0xFFFD))
    for plane in range(0, 0x110000, 0x10000)
    for low in (0xFFFD, 0xFFFE, 0xFFFF)
]


@pytest.mark.parametrize("number, code_point, errors", NUMBERS)
@pytest.mark.parametrize("spelling", ["&#{:d};", "&#x{:x};", "&#X{:X};", "&#{:020d};"])
def test_numeric_reference(spelling, number, code_point, errors):
    character = chr(code_point)
    assert tokens(spelling.format(number) + "z") == [E] * errors + [C(character + "z")]


# 0x80 to 0x9F are replaced as in Windows-1252; the five numbers it leaves
# undefined stand for themselves.
def windows_1252(number: int) -> str:
    try:
        return bytes([number]).decode("cp1252")
    except UnicodeDecodeError:
        return chr(number)


@pytest.mark.parametrize("number", range(0x80, 0xA0))
def test_replacement_table(number):
    assert tokens(f"&#{number};&#x{number:X};") == [E, C(windows_1252(number)), E, C(windows_1252(number))]


@pytest.mark.parametrize(
    "digits, expected",
    [
        ("9" * 10000 + ";", [E, C("\ufffd")]),
        ("0" * 10000 + "65;", [C("A")]),
        ("x" + "F" * 10000, [E, E, C("\ufffd")]),
        ("x" + "0" * 10000 + "10FFFD;", [C("\U0010fffd")]),
        ("1114111" + "0" * 10000 + ";", [E, C("\ufffd")]),
    ],
)
def test_long_digit_run_never_wraps(digits, expected):
    assert tokens("&#" + digits) == expected


def test_every_name_resolves_to_its_code_points():
    assert len(html5) == 2231
    # A parse error before each name without ";".
    expected = [event for name, chars in html5.items() for event in [E, C(chars + "|")][name.endswith(";") :]]
    assert tokens("".join(f"&{name}|" for name in html5)) == merge_characters(expected)


def test_many_failed_references_in_a_row():
    assert tokens("&#" * 10000 + "&amp" * 10000) == [E, C("&#")] * 10000 + [E, C("&")] * 10000


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
VALUE_CASES = [
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


@pytest.mark.parametrize("document, expected", VALUE_CASES)
def test_value_ends_and_allowed_characters(document, expected):
    assert tokens(document) == expected
