import htmltess
import pytest
from recording import Recorder, tokens


@pytest.mark.parametrize(
    "document, expected",
    [
        ("", []),
        ("plain text\r\n", [("Character", "plain text\r\n")]),
        ("a\0b", [("Character", "a"), ("ParseError",), ("Character", "\0b")]),
        ("\ud800x", [("Character", "\ud800x")]),
    ],
)
def test_text(document, expected):
    assert tokens(document) == expected
    assert tokens(document.encode("utf-8", "surrogatepass")) == expected


def test_each_character_is_one_call():
    recorder = Recorder()
    htmltess.html_parse_string(recorder, "h\u00e9\U0001f600")
    assert recorder.events == [("Character", "h"), ("Character", "\u00e9"), ("Character", "\U0001f600"), ("EOF",)]
