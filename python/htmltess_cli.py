"""Command-line front end of htmltess: prints the tokens of an HTML document.

    htmltess FILE            one JSON array per token and line (JSON Lines)
    htmltess --stats FILE    counts per token kind, bytes and throughput

The text of script, style, title, textarea, ... is tokenized as a browser does
(--content-model browser, the default); --content-model none tokenizes it as
markup.

FILE may be "-" for standard input.
"""

from __future__ import annotations

import argparse
import errno
import json
import os
import sys
import time
from typing import BinaryIO, Callable

import htmltess

# Characters of a run are written in pieces of this many, so a long text never
# has to be held whole.
_RUN_PIECE = 4096


def _json_bytes(value: object) -> bytes:
    """UTF-8 JSON with non-ASCII characters as themselves and lone surrogates as \\u escapes."""
    return json.dumps(value, ensure_ascii=False).encode("utf-8", "backslashreplace")


class JsonLinesWriter(htmltess.HtmlHandler):
    """Writes each token as one JSON array per line; adjacent characters form one run."""

    def __init__(self, out: BinaryIO) -> None:
        self.out = out
        self.piece: list[str] = []
        self.in_run = False

    def OnParseError(self) -> None:
        self.write(["ParseError"])

    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None) -> None:
        self.write(["DOCTYPE", name, public_id, system_id])

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        self.write(["StartTag", name, attributes, self_closing])

    def OnEndTag(self, name: str) -> None:
        self.write(["EndTag", name])

    def OnComment(self, text: str) -> None:
        self.write(["Comment", text])

    def OnChar(self, char: str) -> None:
        piece = self.piece
        piece.append(char)
        if len(piece) == _RUN_PIECE:
            self.write_piece()

    def OnEof(self) -> None:
        self.end_run()

    def write(self, token: list[object]) -> None:
        self.end_run()
        self.out.write(_json_bytes(token) + b"\n")

    def write_piece(self) -> None:
        if not self.in_run:
            self.out.write(b'["Character", "')
            self.in_run = True
        # The escapes of a JSON string are per character, so pieces concatenate.
        self.out.write(_json_bytes("".join(self.piece))[1:-1])
        self.piece.clear()

    def end_run(self) -> None:
        if self.piece:
            self.write_piece()
        if self.in_run:
            self.out.write(b'"]\n')
            self.in_run = False


TOKEN_KINDS = ("DOCTYPE", "StartTag", "EndTag", "Comment", "Character", "ParseError")


class TokenCounter(htmltess.HtmlHandler):
    """Counts the tokens of each kind; every character is one token."""

    def __init__(self) -> None:
        self.doctypes = self.start_tags = self.end_tags = self.comments = self.characters = self.errors = 0

    def OnParseError(self) -> None:
        self.errors += 1

    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None) -> None:
        self.doctypes += 1

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        self.start_tags += 1

    def OnEndTag(self, name: str) -> None:
        self.end_tags += 1

    def OnComment(self, text: str) -> None:
        self.comments += 1

    def OnChar(self, char: str) -> None:
        self.characters += 1

    def counts(self) -> dict[str, int]:
        values = (self.doctypes, self.start_tags, self.end_tags, self.comments, self.characters, self.errors)
        return dict(zip(TOKEN_KINDS, values))


def parse(handler: htmltess.HtmlHandler, path: str, content_model: str) -> int:
    """Parses the document at path ("-" for standard input) and returns its size in bytes.

    A regular file is read as it is parsed; standard input and paths that are not
    regular files (pipes such as <(cmd), devices) are read into memory first.
    """
    if path == "-":
        return _parse_bytes(handler, sys.stdin.buffer.read(), content_model)
    try:
        htmltess.html_parse_file(handler, path, content_model=content_model)
    except OSError as error:
        if error.errno != errno.ESPIPE or error.filename != path:
            raise
        with open(path, "rb") as file:
            return _parse_bytes(handler, file.read(), content_model)
    return os.stat(path).st_size


def _parse_bytes(handler: htmltess.HtmlHandler, data: bytes, content_model: str) -> int:
    htmltess.html_parse_string(handler, data, content_model=content_model)
    return len(data)


def print_tokens(path: str, content_model: str) -> None:
    out = sys.stdout.buffer
    parse(JsonLinesWriter(out), path, content_model)
    out.flush()


def print_stats(path: str, content_model: str) -> None:
    counter = TokenCounter()
    start = time.perf_counter()
    size = parse(counter, path, content_model)
    seconds = time.perf_counter() - start
    rows: list[tuple[str, object]] = list(counter.counts().items())
    rows.append(("bytes", size))
    rows.append(("seconds", f"{seconds:.6f}"))
    rows.append(("MB/s", f"{size / seconds / 1e6:.2f}" if seconds > 0 else "inf"))
    for name, value in rows:
        print(f"{name:<10} {value:>14}")
    sys.stdout.flush()


def _stop_quietly_on_closed_pipe() -> None:
    # Whatever is still buffered for stdout can no longer be written: point
    # stdout at /dev/null so that the interpreter's final flush does not fail.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="htmltess",
        description="Print the tokens of an HTML document (UTF-8) as JSON Lines, one token per line.",
    )
    parser.add_argument("file", metavar="FILE", help='the document; "-" reads standard input')
    parser.add_argument(
        "--stats", action="store_true", help="print counts per token kind, bytes and throughput instead"
    )
    parser.add_argument(
        "--content-model",
        choices=("none", "browser"),
        default="browser",
        help="browser (the default): tokenize the text of script, style, title, textarea, ... as a browser "
        "does; none: tokenize it as markup",
    )
    args = parser.parse_args(argv)
    run: Callable[[str, str], None] = print_stats if args.stats else print_tokens
    try:
        run(args.file, args.content_model)
    except BrokenPipeError:
        _stop_quietly_on_closed_pipe()
    except KeyboardInterrupt:
        return 130
    except OSError as error:
        print(f"htmltess: {args.file}: {error.strerror or error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
