"""The bridge's fast paths (text runs through OnText, skipped default callbacks, recurring names) change
nothing a handler sees."""

import random

import htmltess
import pytest
from inputs import VENDORED_PAGES
from recording import Recorder, TextRecorder, tokens


# The html5lib harness compares text runs with the character stream on its inputs; these are longer.
@pytest.mark.parametrize("page", VENDORED_PAGES, ids=lambda page: page.name)
def test_text_runs_join_to_the_character_stream(page):
    assert tokens(page.read_bytes(), TextRecorder()) == tokens(page.read_bytes())


def test_a_long_run_arrives_in_consecutive_pieces():
    recorder = TextRecorder()
    htmltess.html_parse_string(recorder, "x" * 200_000 + "<p>")
    texts = [e[1] for e in recorder.events if e[0] == "Text"]
    assert len(texts) > 1 and "".join(texts) == "x" * 200_000
    assert recorder.events[len(texts) :] == [("StartTag", "p", {}, False), ("EOF",)]


def test_on_text_provided_by_the_instance_is_used():
    recorder = Recorder()
    recorder.OnText = lambda text: recorder.events.append(("Text", text))
    htmltess.html_parse_string(recorder, "ab")
    assert recorder.events == [("Text", "ab"), ("EOF",)]


def test_recurring_names_are_reported_exactly():
    # Enough distinct names to collide in the bridge's table of recent names, long ones included.
    rng = random.Random(7)
    names = ["x" + "".join(rng.choice("abcdef\u00e9") for _ in range(rng.randrange(40))) for _ in range(3000)]
    document = "".join(f"<{n} {n}={i}></{n}>" for i, n in enumerate(names * 2))
    expected = [[("StartTag", n, {n: str(i)}, False), ("EndTag", n)] for i, n in enumerate(names * 2)]
    assert tokens(document) == [event for pair in expected for event in pair]
