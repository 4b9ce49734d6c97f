"""Command-line front end of htmltess: prints the tokens of HTML documents.

    htmltess FILE...            one JSON array per token and line (JSON Lines)
    htmltess --positions FILE   each line ending with the token's span in bytes
    htmltess --stats FILE...    counts per token kind, bytes and throughput

The text of script, style, title, textarea, ... is tokenized as a browser does
(--content-model browser, the default); --content-model none tokenizes it as
markup.

A FILE may be "-" for standard input; several are read in order.
"""

from __future__ import annotations

import argparse
import errno
import functools
import json
import os
import stat
import sys
import time
from typing import BinaryIO, Callable

import htmltess

# Output lines are collected and written in blocks of this many.
_BLOCK = 4096
# Standard input and other streams are read in chunks of at most this many bytes.
_CHUNK = 65536

_encode = json.JSONEncoder(ensure_ascii=False).encode
_RUN_END = '"]\n'
# A str as a JSON string literal, quotes included; its escapes are per character.
_quote: Callable[[str], str] = json.encoder.encode_basestring


class OutputError(Exception):
    """Writing the output failed; carries the OSError."""


def write(out: BinaryIO, data: bytes) -> None:
    try:
        out.write(data)
        out.flush()
    except OSError as error:
        raise OutputError(error) from error


class _Output:
    """A binary output whose writes are flushed at once and fail with OutputError."""

    def __init__(self, out: BinaryIO) -> None:
        self.out = out

    def write(self, data: bytes) -> None:
        write(self.out, data)


def json_lines_writer(out: BinaryIO, errors: bool = False) -> htmltess.HtmlHandler:
    """A handler that writes each token to out as one JSON array per line, the characters between two
    other tokens as one line; with errors, parse errors with their codes, lines and columns. Written in
    C++; the Python writers below add the spans of --positions."""
    return htmltess._JsonLinesWriter(_Output(out), errors=errors)


class JsonLinesWriter(htmltess.HtmlHandler):
    """Writes each token as one JSON array per line; the pieces of a text run form one line.

    Each callback closes an open text run and adds its line; the frequent ones
    do it inline, since this is the command's hot path.
    """

    def __init__(self, out: BinaryIO) -> None:
        self.out = out
        self.parts: list[str] = []
        self.in_run = False
        self.lines: dict[object, str] = {}  # recurring lines (end tags, bare start tags), made once

    def OnParseError(self) -> None:
        parts = self.parts
        if self.in_run:
            parts.append(_RUN_END)
            self.in_run = False
        parts.append('["ParseError"]\n')
        if len(parts) > _BLOCK:
            self.flush()

    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None) -> None:
        self.add(_encode(["DOCTYPE", name, public_id, system_id]) + "\n")

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        parts = self.parts
        if self.in_run:
            parts.append(_RUN_END)
            self.in_run = False
        if attributes:
            pairs = ", ".join([_quote(key) + ": " + _quote(value) for key, value in attributes.items()])
            parts.append(
                f'["StartTag", {_quote(name)}, {{{pairs}}}, {"true" if self_closing else "false"}]\n'
            )
        else:
            key = (name, self_closing)
            parts.append(self.lines.get(key) or self.line_of(key))
        if len(parts) > _BLOCK:
            self.flush()

    def OnEndTag(self, name: str) -> None:
        parts = self.parts
        if self.in_run:
            parts.append(_RUN_END)
            self.in_run = False
        parts.append(self.lines.get(name) or self.line_of(name))
        if len(parts) > _BLOCK:
            self.flush()

    def OnComment(self, text: str) -> None:
        self.add(_encode(["Comment", text]) + "\n")

    def OnText(self, text: str) -> None:
        if self.in_run:
            self.parts.append(_quote(text)[1:-1])
        else:
            self.parts.append('["Character", ' + _quote(text)[:-1])
            self.in_run = True
        if len(self.parts) > _BLOCK:
            self.flush()

    def OnEof(self) -> None:
        self.add("")
        self.flush()

    def line_of(self, key: str | tuple[str, bool]) -> str:
        token = ["EndTag", key] if isinstance(key, str) else ["StartTag", key[0], {}, key[1]]
        line = self.lines[key] = _encode(token) + "\n"
        return line

    def add(self, line: str) -> None:
        if self.in_run:
            self.parts.append(_RUN_END)
            self.in_run = False
        self.parts.append(line)
        if len(self.parts) > _BLOCK:
            self.flush()

    def flush(self) -> None:
        # Lone surrogates, which UTF-8 cannot carry, become \\u escapes.
        data = "".join(self.parts).encode("utf-8", "backslashreplace")
        self.parts.clear()
        write(self.out, data)


class ErrorJsonLinesWriter(JsonLinesWriter):
    """JsonLinesWriter that writes each parse error with its code, line and column."""

    def OnError(self, code: str, line: int, column: int) -> None:
        self.add(_encode(["ParseError", code, line, column]) + "\n")


class PositionJsonLinesWriter(JsonLinesWriter):
    """JsonLinesWriter that ends each token's line with its span: [start, end], byte offsets into the document.

    A text run's span runs from the start of its first piece to the end of its last.
    """

    def __init__(self, out: BinaryIO) -> None:
        super().__init__(out)
        self.run_span = (0, 0)

    def token(self, token: list) -> None:
        self.add(_encode([*token, list(self.span())]) + "\n")

    def OnParseError(self) -> None:
        self.add('["ParseError"]\n')

    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None) -> None:
        self.token(["DOCTYPE", name, public_id, system_id])

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        self.token(["StartTag", name, attributes, self_closing])

    def OnEndTag(self, name: str) -> None:
        self.token(["EndTag", name])

    def OnComment(self, text: str) -> None:
        self.token(["Comment", text])

    def OnText(self, text: str) -> None:
        start, end = self.span()
        self.run_span = (self.run_span[0] if self.in_run else start, end)
        super().OnText(text)

    def add(self, line: str) -> None:
        if self.in_run:
            self.parts.append(f'", [{self.run_span[0]}, {self.run_span[1]}]]\n')
            self.in_run = False
        super().add(line)


class PositionErrorJsonLinesWriter(PositionJsonLinesWriter, ErrorJsonLinesWriter):
    """Both: spans on token lines, codes and positions on parse error lines."""


TOKEN_KINDS = ("DOCTYPE", "StartTag", "EndTag", "Comment", "Character", "ParseError")


class TokenCounter(htmltess.HtmlHandler):
    """Counts the tokens of each kind as the JSON Lines output shows them: a text run is one Character."""

    def __init__(self) -> None:
        self.counts = dict.fromkeys(TOKEN_KINDS, 0)
        self.in_run = False

    def count(self, kind: str) -> None:
        self.counts[kind] += 1
        self.in_run = False

    def OnParseError(self) -> None:
        self.count("ParseError")

    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None) -> None:
        self.count("DOCTYPE")

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        self.count("StartTag")

    def OnEndTag(self, name: str) -> None:
        self.count("EndTag")

    def OnComment(self, text: str) -> None:
        self.count("Comment")

    def OnText(self, text: str) -> None:
        if not self.in_run:
            self.count("Character")
            self.in_run = True

    def OnEof(self) -> None:
        self.in_run = False


def parse(handler: htmltess.HtmlHandler, path: str, options: dict[str, object]) -> int:
    """Parses the document at path ("-" for standard input) and returns its size in bytes.

    A file that reports a size is read as it is parsed; standard input and
    paths that report none (pipes such as <(cmd), devices, the files of /proc)
    are read in chunks and fed to a Parser as they come, never held whole.
    """
    if path == "-":
        return feed(handler, sys.stdin.buffer, options)
    info = os.stat(path)
    if stat.S_ISREG(info.st_mode) and info.st_size:
        htmltess.html_parse_file(handler, path, **options)
        return info.st_size
    with open(path, "rb") as file:
        return feed(handler, file, options)


def feed(handler: htmltess.HtmlHandler, file: BinaryIO, options: dict[str, object]) -> int:
    """Feeds what the file holds to a Parser, chunk by chunk, and returns its size in bytes.

    A read error ends the document there: what was read is parsed to its end, then the error is raised.
    """
    parser = htmltess.Parser(handler, **options)
    size = 0
    try:
        while chunk := file.read1(_CHUNK):
            parser.feed(chunk)
            size += len(chunk)
    except OSError:
        parser.close()
        raise
    parser.close()
    return size


def print_tokens(
    paths: list[str],
    options: dict[str, object],
    out: BinaryIO,
    writer_type: Callable[[BinaryIO], htmltess.HtmlHandler] = json_lines_writer,
) -> int:
    status = 0
    for path in paths:
        writer = writer_type(out)
        try:
            parse(writer, path, options)
        except OSError as error:
            writer.OnEof()  # what was read before the error
            status = _report(path, error)
    return status


def print_stats(paths: list[str], options: dict[str, object], out: BinaryIO) -> int:
    counter, size, status = TokenCounter(), 0, 0
    start = time.perf_counter()
    for path in paths:
        try:
            size += parse(counter, path, options)
        except OSError as error:
            status = _report(path, error)
    seconds = time.perf_counter() - start
    if status and not size:  # nothing was read
        return status
    rows: list[tuple[str, object]] = list(counter.counts.items())
    rows.append(("bytes", size))
    rows.append(("seconds", f"{seconds:.6f}"))
    rows.append(("MB/s", f"{size / seconds / 1e6:.2f}" if seconds > 0 else "inf"))
    write(out, "".join(f"{name:<10} {value:>14}\n" for name, value in rows).encode())
    return status


def _report(path: str, error: OSError) -> int:
    print(f"htmltess: {path}: {error.strerror or error}", file=sys.stderr)
    return 1


def _stop_quietly_on_closed_output() -> None:
    # Whatever is still buffered for stdout can no longer be written: point
    # stdout at /dev/null so that the interpreter's final flush does not fail.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="htmltess",
        description="Print the tokens of HTML documents (UTF-8) as JSON Lines, one token per line.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE", help='a document; "-" reads standard input')
    parser.add_argument(
        "--stats", action="store_true", help="print counts per token kind, bytes and throughput instead"
    )
    parser.add_argument(
        "--errors", action="store_true", help='print parse errors as ["ParseError", code, line, column]'
    )
    parser.add_argument(
        "--positions", action="store_true", help="end each token's line with its span: [start, end] in bytes"
    )
    parser.add_argument(
        "--content-model",
        choices=("none", "browser"),
        default="browser",
        help="browser (the default): tokenize the text of script, style, title, textarea, ... as a browser "
        "does; none: tokenize it as markup",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {htmltess.__version__}")
    return parser


def parse_options(args: argparse.Namespace) -> dict[str, object]:
    """The keyword arguments of the parse functions that the options select."""
    return {"content_model": args.content_model}


def main(argv: list[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    if sys.stdout is None:  # started with standard output closed: nothing can be written
        return 0
    writer_type: Callable[[BinaryIO], htmltess.HtmlHandler] = functools.partial(
        json_lines_writer, errors=args.errors
    )
    if args.positions:
        writer_type = [PositionJsonLinesWriter, PositionErrorJsonLinesWriter][args.errors]
    run = print_stats if args.stats else functools.partial(print_tokens, writer_type=writer_type)
    try:
        return run(args.files, parse_options(args), sys.stdout.buffer)
    except OutputError as error:
        _stop_quietly_on_closed_output()
        cause = error.args[0]
        if cause.errno in (errno.EPIPE, errno.EBADF):  # the reader went away, or there is none
            return 0
        print(f"htmltess: standard output: {cause.strerror or cause}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
