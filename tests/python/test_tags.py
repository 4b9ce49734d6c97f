import htmltess
import pytest
from recording import Recorder, tokens

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
        ("</a>", [("EndTag", "a")]),
        ("</aB>", [("EndTag", "ab")]),
        ("</>", [PE]),
        ("</>x", [PE, ("Character", "x")]),
        ("</", [PE, ("Character", "</")]),
        # Tag name state.
        ("<a\tb>", [start("a", {"b": ""})]),
        ("<a\nb>", [start("a", {"b": ""})]),
        ("<a\fb>", [start("a", {"b": ""})]),
        ("<a b>", [start("a", {"b": ""})]),
        ("<br/>", [start("br", self_closing=True)]),
        ("<a>b", [start("a"), ("Character", "b")]),
        ("<DiV>", [start("div")]),
        ("<a\0b>", [PE, start("a\ufffdb")]),
        ("<ab", [PE]),
        ("x<ab", [("Character", "x"), PE]),
        ("<a\rb>", [start("a\rb")]),
        ("<a\r\n>", [start("a\r")]),
        ("<a\u00c0\u00e9Z>", [start("a\u00c0\u00e9z")]),
        ("<a\U0001f600>", [start("a\U0001f600")]),
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


@pytest.mark.parametrize("length", [1, 10, 11, 20, 21, 1000])
def test_tag_name_of_any_length_is_whole(length):
    name = "".join(chr(ord("a") + i % 26) for i in range(length))
    assert tokens(f"<{name.upper()}></{name}>") == [start(name), ("EndTag", name)]


# What follows "<!", "<?" and "</" plus a non-letter belongs to other states:
# these inputs only have to run to the end of the input.
@pytest.mark.parametrize("document", ["<!", "<!x>", "<!-->", "<?", "<?x>", "</ x>", "</\0>", "</1", "</?"])
def test_hand_over_to_other_states(document):
    tokens(document)


@pytest.mark.parametrize(
    "document, self_closing", [("<a>", False), ("<a/>", True), ("<a b/>", True), ("<a b='c'/>", True)]
)
def test_self_closing_flag_is_a_bool(document, self_closing):
    recorder = Recorder()
    htmltess.html_parse_string(recorder, document)
    assert recorder.events[0][3] is self_closing
    assert PE not in recorder.events
