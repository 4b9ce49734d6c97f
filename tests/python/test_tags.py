import htmltess
import pytest
from recording import tokens

PE = ("ParseError",)


def start(name, attributes=None, self_closing=False):
    return ("StartTag", name, attributes or {}, self_closing)


@pytest.mark.parametrize(
    "document, expected",
    [
        # Tag open state.
        ("<a>", [start("a")]),
        ("<Ab>", [start("ab")]),
        ("a<3", [("Character", "a"), PE, ("Character", "<3")]),
        ("< a>", [PE, ("Character", "< a>")]),
        ("<\0", [PE, ("Character", "<"), PE, ("Character", "\0")]),
        ("<\u00e9>", [PE, ("Character", "<\u00e9>")]),
        ("<", [PE, ("Character", "<")]),
        # End tag open state.
        ("</aB>", [("EndTag", "ab")]),
        ("</>x", [PE, ("Character", "x")]),
        ("</", [PE, ("Character", "</")]),
        # Tag name state.
        ("<br/>", [start("br", self_closing=True)]),
        ("<a>b", [start("a"), ("Character", "b")]),
        ("<a\0b>", [PE, start("a\ufffdb")]),
        ("x<ab", [("Character", "x"), PE]),
        ("<a\rb>", [start("a\rb")]),
        ("<a\r\n>", [start("a\r")]),
        ("<a\u00c0\u00e9Z\U0001f600>", [start("a\u00c0\u00e9z\U0001f600")]),
        ("<a@[`{>", [start("a@[`{")]),
        # Self-closing start tag state.
        ("<a/>x", [start("a", self_closing=True), ("Character", "x")]),
        ("<a/", [PE]),
        ("<a/b>", [PE, start("a", {"b": ""})]),
        ("<a/ >", [PE, start("a")]),
        ("<a//>", [PE, start("a", self_closing=True)]),
        # End tags carrying attributes or the self-closing flag.
        ("</a/>", [PE, ("EndTag", "a")]),
        ("</a b>", [PE, ("EndTag", "a")]),
        ("</a b=c/>", [PE, ("EndTag", "a")]),
        ("</a b='c'/>", [PE, PE, ("EndTag", "a")]),
        ("</a b", [PE]),
    ],
)
def test_tag_states(document, expected):
    assert tokens(document) == expected


@pytest.mark.parametrize("length", [10, 11])
def test_tag_name_of_any_length_is_whole(length):
    name = "".join(chr(ord("a") + i % 26) for i in range(length))
    assert tokens(f"<{name.upper()}></{name}>") == [start(name), ("EndTag", name)]


class Keeper(htmltess.HtmlHandler):
    def __init__(self):
        self.calls = []

    def OnStartTag(self, name, attributes, self_closing):
        self.calls.append((name, attributes, list(attributes.items()), self_closing))


def test_start_tag_dict_and_flag():
    keeper = Keeper()
    htmltess.html_parse_string(keeper, "<a z=1 B='2' y=\"\u00e9\U0001f600\" x><br/>")
    (name, kept, items, self_closing), (_, _, _, br_self_closing) = keeper.calls
    assert (name, self_closing, br_self_closing) == ("a", False, True)
    assert type(self_closing) is bool and type(br_self_closing) is bool
    assert items == [("z", "1"), ("b", "2"), ("y", "\u00e9\U0001f600"), ("x", "")]
    assert all(type(key) is str and type(value) is str for key, value in items)
    assert type(kept) is dict and kept == {}
