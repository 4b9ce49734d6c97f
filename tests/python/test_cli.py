"""The htmltess command: JSON Lines output, statistics, inputs, exit codes."""

import collections
import functools
import io
import json
import os
import pathlib
import subprocess
import sys
import threading

import htmltess as htmltess_module
import htmltess_cli
import pytest
from htmltess_cli import TOKEN_KINDS, json_lines_writer
from inputs import PAGES, html5lib_documents
from recording import ErrorTextRecorder, Recorder, TextRecorder, tokens

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "hello.html"


def htmltess(*args, **kwargs):
    command = [sys.executable, "-m", "htmltess_cli", *map(str, args)]
    return subprocess.run(command, check=False, capture_output=True, **kwargs)


def lines(stdout):
    return [json.loads(line) for line in stdout.decode("utf-8").splitlines()]


def through_pipe(document):
    """Runs htmltess on /dev/fd/N, the read end of a pipe that a thread fills, like <(cmd)."""
    read_end, write_end = os.pipe()
    threading.Thread(target=lambda: os.fdopen(write_end, "wb").write(document), daemon=True).start()
    try:
        return htmltess(f"/dev/fd/{read_end}", pass_fds=[read_end])
    finally:
        os.close(read_end)


@pytest.mark.parametrize(
    "document",
    [EXAMPLE.read_bytes(), b"", b"\xff\xed\xa0\x80", ("\u00e9" * 10_000 + "x" * 10_000).encode()],
    ids=["example", "empty", "invalid", "long run"],
)
def test_prints_each_token_as_one_json_line_from_a_file_stdin_or_a_pipe(tmp_path, document):
    path = tmp_path / "doc.html"
    path.write_bytes(document)
    for result in htmltess(path), htmltess("-", input=document), through_pipe(document):
        assert (result.returncode, result.stderr) == (0, b"")
        assert lines(result.stdout) == [list(token) for token in tokens(document)]


@pytest.mark.parametrize("errors", [[], ["--errors"]])
def test_positions_option_ends_token_lines_with_their_spans(errors):
    document = b"<!DOCTYPE html><p class=x>caf\xc3\xa9 &amp;\n<!-- c --></p>\0"
    result = htmltess("--positions", *errors, "-", input=document)
    spans = [
        (line[0], document[slice(*line[-1])]) for line in lines(result.stdout) if line[0] != "ParseError"
    ]
    assert spans == [
        ("DOCTYPE", b"<!DOCTYPE html>"),
        ("StartTag", b"<p class=x>"),
        ("Character", b"caf\xc3\xa9 &amp;\n"),
        ("Comment", b"<!-- c -->"),
        ("EndTag", b"</p>"),
        ("Character", b"\0"),
    ]
    assert lines(result.stdout)[-2] == (
        ["ParseError", "unexpected-null-character", 2, 15] if errors else ["ParseError"]
    )


def test_several_files_in_order_and_stats_count_as_the_output_shows(tmp_path):
    documents = ["<!DOCTYPE html><p>a\0b\u00e9\U0001f600</p><!---->\n", "x" * 100_000 + "<br/>y"]
    paths = [tmp_path / "1.html", tmp_path / "2.html", pathlib.Path("/proc/version")]  # the last has size 0
    for path, document in zip(paths, documents):
        path.write_text(document)
    documents.append(paths[2].read_text())
    output = htmltess(*paths).stdout
    assert lines(output) == [list(token) for document in documents for token in tokens(document)]
    result = htmltess("--stats", *paths)
    stats = dict(line.split() for line in result.stdout.decode().splitlines())
    shown = collections.Counter(token[0] for token in lines(output))
    assert {kind: int(stats[kind]) for kind in TOKEN_KINDS} == {kind: shown[kind] for kind in TOKEN_KINDS}
    assert int(stats["bytes"]) == sum(len(d.encode()) for d in documents) and result.returncode == 0


@pytest.mark.parametrize(
    "make_path, message, stats",
    [
        (lambda tmp_path: tmp_path / "missing.html", b"No such file or directory", []),
        (lambda tmp_path: tmp_path, b"Is a directory", ["--stats"]),
    ],
)
def test_an_unreadable_file_exits_1_with_a_message(tmp_path, make_path, message, stats):
    path = make_path(tmp_path)
    result = htmltess(*stats, path)
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.decode().startswith(f"htmltess: {path}: ") and message in result.stderr


@pytest.mark.parametrize(
    "args, inside_title",
    [([], [["Character", "<b>"]]), (["--content-model", "none"], [["StartTag", "b", {}, False]])],
)
def test_content_model_is_browser_unless_none_is_asked(args, inside_title):
    result = htmltess(*args, "-", input=b"<title><b>")
    assert lines(result.stdout) == [["StartTag", "title", {}, False], *inside_title]


@pytest.mark.parametrize("args", [[], ["--bogus", "x"], ["--content-model", "xml", "x"]])
def test_bad_usage_exits_2(args):
    result = htmltess(*args)
    assert result.returncode == 2 and b"usage: htmltess" in result.stderr


def test_version():
    result, version = htmltess("--version"), htmltess_module.__version__.encode()
    assert (result.returncode, result.stdout.split()) == (0, [b"htmltess", version])


@pytest.mark.parametrize(
    "stdout, status, stderr",
    [
        ("/dev/full", 1, b"htmltess: standard output: No space left on device\n"),
        (None, 0, b""),  # closed
    ],
)
def test_output_that_cannot_be_written(stdout, status, stderr):
    command = [sys.executable, "-m", "htmltess_cli", str(EXAMPLE)]
    with open(stdout or os.devnull, "wb") as out:
        kwargs = {"stdout": out} if stdout else {"preexec_fn": functools.partial(os.close, 1)}
        result = subprocess.run(command, check=False, stderr=subprocess.PIPE, **kwargs)
    assert (result.returncode, result.stderr) == (status, stderr)


def test_a_closed_pipe_ends_quietly(tmp_path):
    path = tmp_path / "big.html"
    path.write_bytes(b"<p>text</p>\0\n" * 500_000)
    command = [sys.executable, "-m", "htmltess_cli", str(path)]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert process.stdout.read(10)
    process.stdout.close()
    stderr = process.stderr.read()
    assert (process.wait(), stderr) == (0, b"")


class Pieces:
    """A stream that hands out its pieces one read at a time, noting how many events the handler had."""

    def __init__(self, recorder, pieces):
        self.recorder, self.pieces, self.seen = recorder, list(pieces), []

    def read1(self, size):
        self.seen.append(len(self.recorder.events))
        piece = self.pieces.pop(0)
        if isinstance(piece, Exception):
            raise piece
        return piece


def test_streams_are_parsed_as_they_are_read():
    recorder = Recorder()
    stream = Pieces(recorder, [b"<p>a", b"&amp", b";</p>", b""])
    assert htmltess_cli.feed(recorder, stream, {}) == 13
    assert stream.seen == [0, 2, 2, 4]
    recorder = Recorder()
    stream = Pieces(recorder, [b"<p>a&amp", OSError(5, "Input/output error")])
    with pytest.raises(OSError):
        htmltess_cli.feed(recorder, stream, {})
    assert recorder.tokens() == tokens(b"<p>a&amp")  # what was read, to its end


def python_lines(document, errors, content_model):
    """The command's output as Python callbacks and the json module make it."""
    recorder = ErrorTextRecorder() if errors else TextRecorder()
    htmltess_module.html_parse_string(recorder, document, content_model=content_model)
    text = "".join(json.dumps(list(token), ensure_ascii=False) + "\n" for token in recorder.tokens())
    return text.encode("utf-8", "backslashreplace")  # lone surrogates as \u escapes


def native_lines(document, errors, content_model):
    out = io.BytesIO()
    htmltess_module.html_parse_string(json_lines_writer(out, errors), document, content_model=content_model)
    return out.getvalue()


# Code points a str cannot hold (above U+10FFFF) and surrogates, alone or in pairs.
ODD_INPUTS = [
    b"a\xf4\x90\x80\x80b",
    b"<a \xf4\x90\x80\x80=1 \xf4\x90\x80\x81=2 \xef\xbf\xbd=3 b=4>",
    b"<!DOCTYPE \xf4\x90\x80\x80 PUBLIC '\xf7\xbf\xbf\xbf'><!--\xf4\x90\x80\x80-->",
    "\ud800<p \udfff='\ud83d\ude00'>\ud83d\ude00",
]
INPUTS = {
    "html5lib": list(dict.fromkeys(document for document, _ in html5lib_documents())) + ODD_INPUTS,
    "pages": [page.read_bytes() for page in PAGES],
}


@pytest.mark.parametrize("errors", [False, True], ids=["", "errors"])
@pytest.mark.parametrize("content_model", ["browser", "none"])
@pytest.mark.parametrize("source", INPUTS)
def test_the_native_writer_prints_what_python_callbacks_and_json_make(source, content_model, errors):
    for document in INPUTS[source]:
        expected = python_lines(document, errors, content_model)
        assert native_lines(document, errors, content_model) == expected, document[:200]


class FailingOutput:
    def write(self, data):
        raise ValueError("cannot write")


@pytest.mark.parametrize("out, error", [(FailingOutput(), ValueError), (object(), AttributeError)])
def test_a_failing_output_raises_from_every_parse(out, error):
    writer = htmltess_module._JsonLinesWriter(out)
    for _ in range(2):  # the failed parse released the writer
        with pytest.raises(error):
            htmltess_module.html_parse_string(writer, "<p>" + "x" * 100_000)
