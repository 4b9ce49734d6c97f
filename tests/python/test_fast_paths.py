"""The bridge's fast paths (text runs through OnText, skipped default callbacks, recurring names) change nothing a handler sees."""

import random

import htmltess
import pytest
from inputs import PAGES
from recording import Recorder, merge_characters


class TextRecorder(Recorder):
    def OnText(self, text):
        self.events.append(("Text", text))


def char_and_text_streams(document):
    chars, texts = Recorder(), TextRecorder()
    htmltess.html_parse_string(chars, document)
    htmltess.html_parse_string(texts, document)
    assert not any(e[0] == "Character" for e in texts.events)
    # A run longer than a piece arrives in several consecutive calls.
    runs = merge_characters([("Character", e[1]) if e[0] == "Text" else e for e in texts.events])
    return merge_characters(chars.events), runs


def random_document(rng):
    pieces = [*"a\u00e9\U0001f600<&\0", "&amp;", "&#", "<b c=d>", "</b>", "<!--x-->", "<!x>", "<!DOCTYPE a>"]
    return "".join(rng.choice(pieces) for _ in range(rng.randrange(60)))


@pytest.mark.parametrize("draw", range(50))
def test_text_runs_join_to_the_character_stream(draw):
    merged, runs = char_and_text_streams(random_document(random.Random(draw)))
    assert runs == merged


def test_text_runs_join_to_the_character_stream_on_the_corpus():
    for page in PAGES:
        merged, runs = char_and_text_streams(page.read_bytes())
        assert runs == merged, page.name


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
    recorder = Recorder()
    htmltess.html_parse_string(recorder, document)
    starts = [(e[1], e[2]) for e in recorder.events if e[0] == "StartTag"]
    ends = [e[1] for e in recorder.events if e[0] == "EndTag"]
    assert starts == [(n, {n: str(i)}) for i, n in enumerate(names * 2)]
    assert ends == names * 2
