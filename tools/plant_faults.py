#!/usr/bin/env python3
"""Plants single-line faults in html/ and stream/, one at a time, and reports which ones the tests catch.

Each fault is found by a source snippet that must occur exactly once in its file (a snippet that is
missing or ambiguous is reported, never skipped silently), so the list survives unrelated edits. For
each fault the file is changed, build/faults is rebuilt incrementally (the module and the C++ tests),
the C++ tests run with ctest and then the Python tests with pytest, both stopping at the first
failure, and the file is restored. ASan and the fuzzer are not run: faults that only leak memory are
theirs to catch and are not planted here.

    tools/plant_faults.py [--only NAME ...] [--list]
"""

from __future__ import annotations

import argparse
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "faults"
TIMEOUT = 300  # seconds for one suite run; a fault that makes the tests hang counts as caught

# (name, file, snippet, replacement): the replacement changes one line of the snippet.
FAULTS = [
    # Data state, tags and the self-closing flag.
    (
        "nul-in-text-unreported",
        "html/tokenizer.cpp",
        "case kNull:\n      ParseError(ParseErrorCode::UnexpectedNullCharacter);\n      EmitCharToken(c);",
        "case kNull:\n      EmitCharToken(c);",
    ),
    (
        "text-run-tail-dropped",
        "html/tokenizer.h",
        "handler->OnText(block, out - block);\n    TokenReported();",
        "TokenReported();",
    ),
    (
        "ampersand-not-a-text-stop",
        "html/tokenizer.cpp",
        "RunStops({'&', '<', kNull})",
        "RunStops({'<', kNull})",
    ),
    (
        "question-mark-unreported",
        "html/tag_states.cpp",
        "case '?':\n      ParseError(ParseErrorCode::UnexpectedQuestionMarkInsteadOfTagName);",
        "case '?':",
    ),
    (
        "end-tag-begun-as-start-tag",
        "html/tag_states.cpp",
        "BeginTag(ToAsciiLower(c), true);",
        "BeginTag(ToAsciiLower(c), false);",
    ),
    (
        "tag-name-not-lowered",
        "html/tag_states.cpp",
        "Append(tagName, ToAsciiLower(c));",
        "Append(tagName, c);",
    ),
    ("self-closing-flag-lost", "html/tag_states.cpp", "selfClosing = true;", "selfClosing = false;"),
    # The tag open state's fast path, which reads a whole tag.
    (
        "text-run-takes-lt-without-switching",
        "html/tokenizer.cpp",
        "consumer.Advance(1);\n        SwitchTo<&Tokenizer::TagOpenState>();",
        "consumer.Advance(1);",
    ),
    (
        "text-run-reads-a-reference-not-yet-fed",
        "html/tokenizer.cpp",
        "if (fedInput || taken == budget) return taken;",
        "if (taken == budget) return taken;",
    ),
    (
        "text-run-reads-on-in-another-state",
        "html/tokenizer.cpp",
        "TagOpenRun(budget - taken - 1);\n        if (interrupted || taken == budget || state != &Tokenizer::DataState)",
        "TagOpenRun(budget - taken - 1);\n        if (interrupted || taken == budget)",
    ),
    (
        "text-run-goes-on-after-an-interrupt",
        "html/tokenizer.cpp",
        "if (interrupted || taken == budget || !ahead.size)",
        "if (taken == budget || !ahead.size)",
    ),
    (
        "text-run-past-the-budget",
        "html/tokenizer.cpp",
        "if (interrupted || taken == budget || !ahead.size)",
        "if (interrupted || !ahead.size)",
    ),
    ("tag-run-self-closing-lost", "html/tag_states.cpp", "selfClosing = c == '/';", "selfClosing = false;"),
    (
        "tag-run-repeated-name-kept",
        "html/tag_states.cpp",
        "handOver();\n    LeaveAttributeName();",
        "handOver();",
    ),
    (
        "tag-run-past-the-budget",
        "html/tag_states.cpp",
        "limit = p + std::min<size_t>(window.size, budget - taken);",
        "limit = p + window.size;",
    ),
    (
        "tag-run-stops-before-handing-over",
        "html/tag_states.cpp",
        "if (ahead() != '=') return handOver();",
        "if (ahead() != '=') return taken;",
    ),
    ("tag-run-any-closing-quote", "html/tag_states.cpp", "if (!held || ahead() != quote)", "if (!held)"),
    (
        "tag-run-equals-starts-a-name",
        "html/tag_states.cpp",
        "c && c != '/' && c != '=' && c != '\"'",
        "c && c != '/' && c != '\"'",
    ),
    (
        "acknowledgement-inverted",
        "html/tag_states.cpp",
        "if (!acknowledged) ParseError(ParseErrorCode::NonVoidHtmlElementStartTagWithTrailingSolidus);",
        "if (acknowledged) ParseError(ParseErrorCode::NonVoidHtmlElementStartTagWithTrailingSolidus);",
    ),
    (
        "empty-end-tag-unreported",
        "html/tag_states.cpp",
        "case '>':\n      ParseError(ParseErrorCode::MissingEndTagName);\n      SwitchTo<&Tokenizer::DataState>();",
        "case '>':\n      SwitchTo<&Tokenizer::DataState>();",
    ),
    (
        "end-tag-attributes-unreported",
        "html/tag_states.cpp",
        "if (attributes.size) ParseError(ParseErrorCode::EndTagWithAttributes);",
        "",
    ),
    # Attributes.
    (
        "repeat-of-previous-name-missed",
        "html/attribute_states.cpp",
        "for (unsigned long i = 0; i < position; ++i)",
        "for (unsigned long i = 0; i + 1 < position; ++i)",
    ),
    (
        "tag-run-takes-a-stop-for-an-unquoted-value",
        "html/tag_states.cpp",
        "      if (kUnquotedValueStops.byte[quote]) return taken;\n",
        "",
    ),
    (
        "name-bit-taken-for-a-repeat",
        "html/tokenizer.h",
        "if ((seen || position >= kIndexedFrom) && RepeatsKeptName(position)) {",
        "if (seen || (position >= kIndexedFrom && RepeatsKeptName(position))) {",
    ),
    (
        "name-bit-not-kept",
        "html/tokenizer.h",
        "  keptNameBits |= bit;\n",
        "",
    ),
    (
        "name-index-off-by-one",
        "html/attr_name_index.cpp",
        "slots[slot] = position + 1;",
        "slots[slot] = position;",
    ),
    (
        "missing-value-unreported",
        "html/attribute_states.cpp",
        "ParseError(ParseErrorCode::MissingAttributeValue);\n      EmitCurrentTag();",
        "EmitCurrentTag();",
    ),
    ("ampersand-lost-in-value", "html/attribute_states.cpp", "if (count == 0) AppendToValue('&');", ""),
    (
        "missing-space-after-value-unreported",
        "html/attribute_states.cpp",
        "ParseError(ParseErrorCode::MissingWhitespaceBetweenAttributes);\n      Reconsume<&Tokenizer::BeforeAttributeNameState>(c);",
        "Reconsume<&Tokenizer::BeforeAttributeNameState>(c);",
    ),
    # Character references.
    (
        "delete-reported-as-plain",
        "html/char_refs.cpp",
        "(value >= 0x7F && value <= 0x9F)",
        "(value >= 0x80 && value <= 0x9F)",
    ),
    (
        "long-number-wraps",
        "html/char_refs.cpp",
        "value = std::min(value * base + DigitWorth(c), kBeyondCodePoints);",
        "value = value * base + DigitWorth(c);",
    ),
    ("euro-mapped-wrong", "html/char_refs.cpp", "{0x80, 0x20AC}", "{0x80, 0x20AD}"),
    ("hash-dropped", "html/consumer.h", "Unconsume('#');", ""),
    ("x-dropped", "html/char_refs.cpp", "Unconsume(static_cast<unsigned char>(x));", ""),
    ("last-code-point-replaced", "html/char_refs.cpp", "value > kMaxCodePoint)", "value >= kMaxCodePoint)"),
    (
        "equals-sign-resolves-in-value",
        "html/named_char_ref_lookup.cpp",
        "(next == '=' || IsAsciiAlphanumeric(next))",
        "IsAsciiAlphanumeric(next)",
    ),
    (
        "unknown-name-after-a-short-run-unreported",
        "html/named_char_ref_lookup.cpp",
        "run.ended ? run.semicolonAfter && run.length > 0 :",
        "run.ended ? false :",
    ),
    (
        "unknown-name-unreported",
        "html/named_char_ref_lookup.cpp",
        "AlphanumericRunEndsWithSemicolon(run.length))\n      tokenizer.ParseError(",
        "AlphanumericRunEndsWithSemicolon(run.length) && false)\n      tokenizer.ParseError(",
    ),
    (
        "lone-semicolon-reported",
        "html/named_char_ref_lookup.cpp",
        "&& length > 0 && after == ';';",
        "&& after == ';';",
    ),
    (
        "name-lead-read-backwards",
        "html/named_char_ref_lookup.cpp",
        "lengthsWithout[LeadIndex(lead[0], lead[1])]",
        "lengthsWithout[LeadIndex(lead[1], lead[0])]",
    ),
    (
        "wide-name-run-ends-at-z",
        "html/named_char_ref_lookup.cpp",
        "_mm_set1_epi8(static_cast<char>(0x80 + 26))",
        "_mm_set1_epi8(static_cast<char>(0x80 + 25))",
    ),
    (
        "longest-short-name-missed",
        "html/named_char_ref_lookup.cpp",
        "std::min(length, index.longestWithoutSemicolon)) : 0;",
        "std::min(length, index.longestWithoutSemicolon - 1)) : 0;",
    ),
    # Comments.
    (
        "third-dash-lost",
        "html/comment_states.cpp",
        "case '-':\n      ParseError(ParseErrorCode::UnexpectedDashAfterDoubleDashInComment);\n      Append(commentData, '-');",
        "case '-':\n      ParseError(ParseErrorCode::UnexpectedDashAfterDoubleDashInComment);",
    ),
    (
        "abrupt-comment-unreported",
        "html/comment_states.cpp",
        "SwitchTo<&Tokenizer::CommentEndState>();\n      break;\n    case '>':\n      ParseError(ParseErrorCode::AbruptClosingOfEmptyComment);",
        "SwitchTo<&Tokenizer::CommentEndState>();\n      break;\n    case '>':",
    ),
    (
        "bang-lost-after-dashes",
        "html/comment_states.cpp",
        'AppendToComment("--!");',
        'AppendToComment("--");',
    ),
    (
        "bogus-comment-run-takes-gt",
        "html/comment_states.cpp",
        "RunStops({'>', kNull})",
        "RunStops({kNull})",
    ),
    (
        "nul-kept-in-bogus-comment",
        "html/comment_states.cpp",
        "case kNull:\n        Append(commentData, kReplacement);",
        "case kNull:\n        Append(commentData, c);",
    ),
    # DOCTYPEs.
    (
        "doctype-space-skips-name-state",
        "html/doctype_states.cpp",
        "case ' ':\n      SwitchTo<&Tokenizer::BeforeDoctypeNameState>();",
        "case ' ':\n      SwitchTo<&Tokenizer::DoctypeNameState>();",
    ),
    (
        "system-id-stays-missing",
        "html/doctype_states.cpp",
        "doctypeFlags &= ~kSystemIdMissing;",
        "doctypeFlags &= ~kPublicIdMissing;",
    ),
    (
        "system-id-opened-as-public",
        "html/doctype_states.cpp",
        "ParseError(ParseErrorCode::MissingWhitespaceBetweenDoctypePublicAndSystemIdentifiers);\n      OpenIdentifier(systemIdentifier, systemIdentifier.doubleQuoted);",
        "ParseError(ParseErrorCode::MissingWhitespaceBetweenDoctypePublicAndSystemIdentifiers);\n      OpenIdentifier(publicIdentifier, publicIdentifier.doubleQuoted);",
    ),
    (
        "stale-system-id",
        "html/doctype_states.cpp",
        "  systemId.Init();\n  doctypeFlags =",
        "  doctypeFlags =",
    ),
    # Token storage.
    (
        "last-inline-element-lost",
        "html/fast_stack.h",
        "static_cast<const void*>(local), N * sizeof(T));",
        "static_cast<const void*>(local), (N - 1) * sizeof(T));",
    ),
    (
        "failed-append-continues",
        "html/tokenizer.h",
        "if (buffer.Push(cp)) return true;\n    MemoryRanOut();",
        "if (buffer.Push(cp)) return true;",
    ),
    # Streams.
    (
        "three-byte-sequence-short",
        "stream/unicode_stream.h",
        "if ((b0 & 0xF0) == 0xE0) return 3;",
        "if ((b0 & 0xF0) == 0xE0) return 2;",
    ),
    ("four-byte-shift-wrong", "stream/unicode_stream.h", "((b[0] & 0x07u) << 18)", "((b[0] & 0x07u) << 16)"),
    ("fast-decode-near-the-end", "stream/unicode_stream.h", "if (held.size >= 4) {", "if (held.size >= 3) {"),
    (
        "continuation-byte-kept",
        "html/consumer.h",
        "if (ahead.size && ahead.bytes[0] < 0x80) {\n      Advance(1);",
        "if (ahead.size && ahead.bytes[0] <= 0x80) {\n      Advance(1);",
    ),
    ("overlong-stop-ignored", "html/tokenizer.h", "if (cp < 0x80 && stops.byte[cp]) break;", ""),
    (
        "refill-forgets-consumed-bytes",
        "stream/file_stream.cpp",
        "bufferStart += bufferPos;",
        "",
    ),
    # Paths that only long inputs, many attributes or the file's buffer boundary reach.
    (
        "index-rehash-overwrites",
        "html/attr_name_index.cpp",
        "while (newSlots[slot]) slot = (slot + 1) & mask;",
        "if (newSlots[slot]) slot = (slot + 1) & mask;",
    ),
    (
        "dropped-flag-kept-after-reuse",
        "html/tokenizer.h",
        "    attribute->Free();\n    currentAttributeDropped = false;",
        "    attribute->Free();",
    ),
    (
        "semicolon-forgotten-off-the-window",
        "html/named_char_ref_lookup.cpp",
        "run = {length, length < got, length < got && bytes[length] == ';'};",
        "run = {length, length < got, false};",
    ),
    (
        "run-grows-at-stale-size",
        "html/tokenizer.h",
        "buffer.size = out - buffer.data;\n    if (!buffer.Grow()) {",
        "if (!buffer.Grow()) {",
    ),
    ("run-decodes-past-the-window", "html/tokenizer.h", " || limit - p < 4) break;", ") break;"),
    (
        "memory-peek-past-the-end",
        "stream/memory_stream.cpp",
        "Peek(void* buf, unsigned long n) {\n  size_t k = std::min<size_t>(n, size - position);",
        "Peek(void* buf, unsigned long n) {\n  size_t k = n;",
    ),
    ("seek-keeps-stale-fill", "stream/file_stream.cpp", "bufferPos = bufferFill = 0;", "bufferPos = 0;"),
    # CR taken for whitespace, which only inputs with CR left in show.
    (
        "cr-skipped-before-value",
        "html/attribute_states.cpp",
        "BeforeAttributeValueState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n",
        "BeforeAttributeValueState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n    case '\\r':\n",
    ),
    (
        "cr-skipped-after-public-id",
        "html/doctype_states.cpp",
        "AfterDoctypePublicIdentifierState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n",
        "AfterDoctypePublicIdentifierState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n    case '\\r':\n",
    ),
    (
        "cr-skipped-before-doctype-name",
        "html/doctype_states.cpp",
        "BeforeDoctypeNameState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n",
        "BeforeDoctypeNameState() {\n  unsigned int c = consumer.Consume();\n  switch (c) {\n    case '\\r':\n",
    ),
    # Ranges, tables and stop sets.
    (
        "plane-end-unreported",
        "html/char_refs.cpp",
        "(value & 0xFFFE) == 0xFFFE;",
        "(value & 0xFFFF) == 0xFFFE;",
    ),
    ("noncharacter-range-short", "html/char_refs.cpp", "value <= 0xFDEF)", "value <= 0xFDEE)"),
    (
        "f8-leads-a-sequence",
        "stream/unicode_stream.h",
        "if ((b0 & 0xF8) == 0xF0) return 4;",
        "if ((b0 & 0xF0) == 0xF0) return 4;",
    ),
    (
        "quote-not-an-attribute-name-stop",
        "html/tag_stops.h",
        "kNull, '\"', '\\'', '<'});",
        "kNull, '\"', '<'});",
    ),
    (
        "backtick-not-an-unquoted-stop",
        "html/tag_stops.h",
        "'\"', '\\'', '<', '=', '`'});",
        "'\"', '\\'', '<', '='});",
    ),
    # Token storage shared between tokens and moved as it grows.
    (
        "attributes-not-rebased",
        "html/fast_stack.h",
        "for (unsigned long i = 0; i < size; ++i) RebaseElement(data[i]);",
        "",
    ),
    (
        "dropped-attribute-reported",
        "html/tag_states.cpp",
        "    attributes.Back().Free();\n    --attributes.size;",
        "    attributes.Back().Free();",
    ),
    (
        "system-id-present-by-default",
        "html/doctype_states.cpp",
        "doctypeFlags = kNameMissing | kPublicIdMissing | kSystemIdMissing;",
        "doctypeFlags = kNameMissing | kPublicIdMissing;",
    ),
    (
        "end-of-input-in-bogus-comment",
        "html/comment_states.cpp",
        "if (bogusCommentChar != kEof) Append(",
        "Append(",
    ),
    # The look-ahead of an unknown reference where the file's buffer ends.
    (
        "run-split-by-the-window-forgotten",
        "stream/unicode_stream.h",
        "advanced += n;\n    length += n;",
        "advanced += n;\n    length = n;",
    ),
    (
        "pending-run-not-counted",
        "stream/unicode_stream.h",
        "    ++length;\n  }\n  size_t advanced = 0;",
        "  }\n  size_t advanced = 0;",
    ),
]


def run(command, **kwargs) -> bool:
    """Runs a command in a process group of its own; False if it fails or outlasts TIMEOUT."""
    with subprocess.Popen(command, cwd=ROOT, start_new_session=True, **kwargs) as process:
        try:
            return process.wait(TIMEOUT) == 0
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return False


def build() -> bool:
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    if not (BUILD / "CMakeCache.txt").exists():
        configure = ["cmake", "-S", ".", "-B", str(BUILD), "-DHTMLTESS_BUILD_TESTS=ON"]
        if not run([*configure, f"-DPython_EXECUTABLE={sys.executable}"], **quiet):
            return False
    return run(["cmake", "--build", str(BUILD), "-j2"], **quiet)


def first_failing_suite() -> str | None:
    """'ctest' or 'pytest' for the first suite that fails, None when both pass."""
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    if not run(["ctest", "--test-dir", str(BUILD), "--stop-on-failure", "-j2", "--timeout", "120"], **quiet):
        return "ctest"
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(BUILD), str(ROOT / "python")])}
    if not run([sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider"], env=env, **quiet):
        return "pytest"
    return None


def plant(name, file, snippet, replacement) -> str:
    path = ROOT / file
    original = path.read_text(encoding="utf-8")
    found = original.count(snippet)
    if found != 1:
        return f"NOT PLANTED: snippet found {found} times in {file}"
    try:
        path.write_text(original.replace(snippet, replacement), encoding="utf-8")
        if not build():
            return "NOT PLANTED: does not build"
        suite = first_failing_suite()
        return f"caught by {suite}" if suite else "MISSED"
    finally:
        path.write_text(original, encoding="utf-8")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", nargs="+", metavar="NAME", help="plant only these faults")
    parser.add_argument(
        "--list", action="store_true", help="list the faults, each with its snippet's count, and exit"
    )
    args = parser.parse_args()
    faults = [fault for fault in FAULTS if not args.only or fault[0] in args.only]
    if args.list:
        for name, file, snippet, _ in faults:
            print(f"{name:40} {file:32} found {(ROOT / file).read_text(encoding='utf-8').count(snippet)}")
        return 0
    if not build() or first_failing_suite():
        print("the tests fail without any fault planted", file=sys.stderr)
        return 1
    results = []
    for fault in faults:
        start = time.monotonic()
        results.append(plant(*fault))
        print(f"{fault[0]:40} {results[-1]} ({time.monotonic() - start:.0f} s)", flush=True)
    build()  # leaves build/faults matching the sources again
    caught = sum(result.startswith("caught") for result in results)
    planted = sum(not result.startswith("NOT PLANTED") for result in results)
    print(f"caught {caught} of {planted} planted faults ({len(results) - planted} not planted)")
    return 0 if caught == planted == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
