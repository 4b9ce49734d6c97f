"""The htmltess command: JSON Lines output, statistics, inputs, exit codes."""

import json
import os
import pathlib
import subprocess
import sys
import threading

import pytest
from recording import tokens

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "hello.html"


def htmltess(*args, **kwargs):
    return subprocess.run(
        [sys.executable, "-m", "htmltess_cli", *map(str, args)], check=False, capture_output=True, **kwargs
    )


def lines(stdout):
    return [json.loads(line) for line in stdout.decode("utf-8").splitlines()]


def expected_lines(document):
    return [list(token) for token in tokens(document)]


@pytest.mark.parametrize(
    "document",
    [
        EXAMPLE.read_bytes(),
        b"",
        b"a\0b\r\n",
        "caf\u00e9 \U0001f600".encode(),
        b"\xff\xed\xa0\x80",
        b"<!DOCTYPE html><p class=x>a &amp; b</p><!-- c --><br/>",
    ],
)
def test_prints_each_token_as_one_json_line(tmp_path, document):
    path = tmp_path / "doc.html"
    path.write_bytes(document)
    result = htmltess(path)
    assert (result.returncode, result.stderr) == (0, b"")
    assert lines(result.stdout) == expected_lines(document)


@pytest.mark.parametrize(
    "document, output",
    [
        ("caf\u00e9\n", '["Character", "caf\u00e9\\n"]\n'),
        ("\ud800x", '["Character", "\\ud800x"]\n'),
        ('"\\\0', '["Character", "\\"\\\\"]\n["ParseError"]\n["Character", "\\u0000"]\n'),
    ],
)
def test_writes_utf8_with_lone_surrogates_escaped(tmp_path, document, output):
    path = tmp_path / "doc.html"
    path.write_bytes(document.encode("utf-8", "surrogatepass"))
    assert htmltess(path).stdout == output.encode("utf-8")


def test_a_long_run_of_characters_is_one_line(tmp_path):
    text = "\u00e9" * 10_000 + "x" * 10_000
    path = tmp_path / "doc.html"
    path.write_text(text, encoding="utf-8")
    assert lines(htmltess(path).stdout) == [["Character", text]]


def test_reads_standard_input():
    document = EXAMPLE.read_bytes()
    result = htmltess("-", input=document)
    assert result.returncode == 0
    assert lines(result.stdout) == expected_lines(document)


def feed_pipe(document):
    """A path to the read end of a pipe a thread fills with document, like <(cmd)."""
    read_end, write_end = os.pipe()

    def feed():
        with os.fdopen(write_end, "wb") as pipe:
            pipe.write(document)

    threading.Thread(target=feed, daemon=True).start()
    return read_end


def test_reads_a_path_that_is_not_a_regular_file_into_memory():
    document = EXAMPLE.read_bytes()
    read_end = feed_pipe(document)
    try:
        result = subprocess.run(
            [sys.executable, "-m", "htmltess_cli", f"/dev/fd/{read_end}"],
            check=False,
            capture_output=True,
            pass_fds=[read_end],
        )
    finally:
        os.close(read_end)
    assert result.returncode == 0, result.stderr
    assert lines(result.stdout) == expected_lines(document)


def test_stats_counts_tokens_and_bytes(tmp_path):
    document = "a\0b\u00e9\U0001f600\n".encode()
    path = tmp_path / "doc.html"
    path.write_bytes(document)
    result = htmltess("--stats", path)
    assert result.returncode == 0
    stats = dict(line.split() for line in result.stdout.decode().splitlines())
    expected = {kind: 0 for kind in ("DOCTYPE", "StartTag", "EndTag", "Comment", "Character", "ParseError")}
    for token in tokens(document):
        expected[token[0]] += len(token[1]) if token[0] == "Character" else 1
    assert {kind: int(stats[kind]) for kind in expected} == expected
    assert int(stats["bytes"]) == len(document)
    assert float(stats["seconds"]) >= 0 and "MB/s" in stats


@pytest.mark.parametrize(
    "make_path, message",
    [
        (lambda tmp_path: tmp_path / "missing.html", b"No such file or directory"),
        (lambda tmp_path: tmp_path, b"Is a directory"),
    ],
)
@pytest.mark.parametrize("stats", [[], ["--stats"]])
def test_an_unreadable_file_exits_1_with_a_message(tmp_path, make_path, message, stats):
    path = make_path(tmp_path)
    result = htmltess(*stats, path)
    assert result.returncode == 1
    assert result.stdout == b""
    assert result.stderr.decode().startswith(f"htmltess: {path}: ")
    assert message in result.stderr


@pytest.mark.parametrize("args", [[], ["a", "b"], ["--bogus", "x"]])
def test_bad_usage_exits_2(args):
    result = htmltess(*args)
    assert result.returncode == 2
    assert b"usage: htmltess" in result.stderr


def test_a_closed_pipe_ends_quietly(tmp_path):
    path = tmp_path / "big.html"
    path.write_bytes(b"<p>text</p>\0\n" * 500_000)
    process = subprocess.Popen(
        [sys.executable, "-m", "htmltess_cli", str(path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE
    )
    assert process.stdout.read(10)
    process.stdout.close()
    stderr = process.stderr.read()
    assert (process.wait(), stderr) == (0, b"")
