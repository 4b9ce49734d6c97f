"""htmltess.Parser: any split of a document into fed pieces gives the callbacks of one html_parse_string."""

import gc
import pickle
import random
from concurrent.futures import ThreadPoolExecutor
from contextlib import nullcontext

import htmltess
import pytest
from inputs import PAGES, VENDORED_PAGES, html5lib_documents
from recording import Boom, ErrorTextRecorder, OnFirstChar, Recorder, TextRecorder, merge_characters, tokens

C = "Character"

# What the html5lib inputs lack: sequences after a reference that resolving it peeks at.
DOCUMENTS = html5lib_documents() + [("&notit\u00e9\u20ac\U0001f600", {}), ("<a b='&amp\u20ac\u20ac'>", {})]


def fed(pieces, recorder_type=TextRecorder, **options):
    recorder = recorder_type()
    parser = htmltess.Parser(recorder, **options)
    for piece in pieces:
        assert parser.feed(piece) is None
    assert parser.close() is True
    return recorder.tokens()


def split(document, positions):
    bounds = [0, *positions, len(document)]
    return [document[start:end] for start, end in zip(bounds, bounds[1:])]


def random_cuts(document, seed, steps):
    rng, positions = random.Random(seed), [0]
    while positions[-1] < len(document):
        positions.append(min(positions[-1] + rng.choice(steps), len(document)))
    return split(document, positions[1:])


@pytest.mark.parametrize("as_bytes", [False, True], ids=["str", "bytes"])
def test_every_html5lib_input_split_at_every_position(as_bytes):
    """Bytes are split inside UTF-8 sequences and at two random places too; a sample compares error codes."""
    rng, failures = random.Random(15), []
    for index, (document, options) in enumerate(DOCUMENTS):
        if as_bytes:
            document = document.encode("utf-8", "surrogatepass")
        recorder_type = ErrorTextRecorder if index % 4 == 0 else TextRecorder
        expected = tokens(document, recorder_type(), **options)
        splits = [[position] for position in range(len(document) + 1)]
        splits += [sorted(rng.randint(0, len(document)) for _ in range(2)) for _ in range(3 * as_bytes)]
        for positions in splits:
            if fed(split(document, positions), recorder_type, **options) != expected:
                failures.append((document, options, positions))
    assert not failures, failures[:5]


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_pages_fed_in_random_pieces(page):
    """In memoryview pieces: bytes-like objects other than bytes."""
    data = page.read_bytes()
    pieces = random_cuts(memoryview(data), page.name, [1, 2, 3, 5, 64, 1000, 65536])
    for options in [{}, {"content_model": "browser"}]:
        assert fed(pieces, **options) == tokens(data, TextRecorder(), **options)


@pytest.mark.parametrize(
    "pieces, after_first",
    [
        # Tokens come as soon as the bytes fed determine them (the splits at every position show that none
        # comes before).
        (["<a>", "b"], [("StartTag", "a", {}, False)]),
        (["x<", "/p>"], [(C, "x")]),
        (["a&amp;", "b"], [(C, "a&")]),
        (["a&amp", ";"], [(C, "a")]),
    ],
)
def test_callbacks_fire_during_feed(pieces, after_first):
    kind = type(pieces[0])
    recorder = TextRecorder()
    parser = htmltess.Parser(recorder)
    parser.feed(pieces[0])
    assert merge_characters(recorder.events) == after_first
    for piece in pieces[1:]:
        parser.feed(piece)
    parser.close()
    assert recorder.tokens() == tokens(kind().join(pieces), TextRecorder())


def test_parser_end_states():
    recorder = Recorder()
    parser = htmltess.Parser(recorder)
    parser.feed(b"<p>")
    for call, error, message in [
        (lambda: parser.feed("x"), TypeError, "argument must be a bytes-like object, as before, not str"),
        (lambda: parser.feed(1), TypeError, "not int"),
        (lambda: htmltess.html_parse_string(recorder, ""), RuntimeError, "already parsing"),
        (lambda: pickle.dumps(parser), TypeError, "pickle"),
        (lambda: htmltess.Parser(object()), TypeError, "Parser\\(\\) argument 1 must be an HtmlHandler"),
        (lambda: htmltess.Parser(Recorder(), content_model="x"), ValueError, "content_model"),
        (parser.close, None, None),
        (lambda: parser.feed(b""), RuntimeError, "the parser is closed"),
        (parser.close, RuntimeError, "the parser is closed"),
    ]:
        with pytest.raises(error, match=message) if error else nullcontext():
            assert call() is True
    assert htmltess.html_parse_string(recorder, "") is True  # the handler is free again


def boom(handler):
    raise Boom


def feed_again(handler):
    handler.parser.feed(b"x")


@pytest.mark.parametrize(
    "action, error",
    [
        (boom, Boom),
        (feed_again, RuntimeError),
        (lambda handler: ThreadPoolExecutor(1).submit(feed_again, handler).result(), RuntimeError),
    ],
    ids=["raises", "feeds", "feeds-from-another-thread"],
)
def test_a_failing_callback_ends_the_parse(action, error):
    handler = OnFirstChar(action)
    handler.parser = parser = htmltess.Parser(handler)
    with pytest.raises(error, match=None if error is Boom else "the parser is already running"):
        parser.feed(b"a<b>")
    assert handler.events == [(C, "a")]
    with pytest.raises(RuntimeError, match="closed"):
        parser.close()
    assert htmltess.html_parse_string(handler, "") is True
    del handler.parser


def test_with_block_closes_or_abandons():
    recorder = Recorder()
    with htmltess.Parser(recorder) as parser:
        parser.feed("<a>x")
    assert recorder.tokens() == [("StartTag", "a", {}, False), (C, "x")]
    recorder = Recorder()
    with pytest.raises(Boom), htmltess.Parser(recorder) as parser:
        parser.feed("<a>x")
        raise Boom
    assert recorder.events == [("StartTag", "a", {}, False), (C, "x")]  # no OnEof
    assert htmltess.html_parse_string(recorder, "") is True


def test_an_unclosed_parser_releases_its_handler():
    recorder = Recorder()
    recorder.parser = htmltess.Parser(recorder)  # a cycle, collected by gc
    recorder.parser.feed("<a>&amp")
    del recorder.parser
    gc.collect()
    assert recorder.events == [("StartTag", "a", {}, False)]
    assert htmltess.html_parse_string(recorder, "") is True


@pytest.mark.parametrize("kind", ["bytes", "str"])
def test_spans_and_positions_of_fed_pieces(kind):
    """Bytes already tokenized are dropped as pieces come; the tokens' spans and positions stay those of one parse."""
    from test_spans import CharSpans

    for page in VENDORED_PAGES:
        data = page.read_bytes()
        document = data.decode("utf-8", "surrogateescape") if kind == "str" else data
        expected = CharSpans()
        htmltess.html_parse_string(expected, document)
        handler = CharSpans()
        with htmltess.Parser(handler) as parser:
            for piece in random_cuts(document, page.name, [1, 7, 300, 5000]):
                parser.feed(piece)
        assert handler.tokens == expected.tokens, page.name
