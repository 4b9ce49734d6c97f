"""The public html5lib tokenizer suite, run through html_parse_string.

A test runs once per initial state it lists, through the keyword arguments
initial_state and last_start_tag; the id of a run from a state other than the
data state ends in "/" and the state's first word. Each run uses a handler that
takes OnError, and its tokens and its (code, line, column) errors are compared
with the test's; the default callbacks must give the same tokens and one
OnParseError per error other than the input-stream errors. Known differences
are listed, each with a reason code, in html5lib_differences.txt beside this
file; the test fails on any other mismatch and on any listed entry that now
matches.
"""

from __future__ import annotations

import collections
import json
import re
from pathlib import Path

import htmltess
import pytest
from recording import Recorder, merge_characters

INPUT_STREAM_ERRORS = {
    "control-character-in-input-stream",
    "noncharacter-in-input-stream",
    "surrogate-in-input-stream",
}


class ErrorRecorder(Recorder):
    def OnError(self, code, line, column):
        self.record(("ParseError", code, line, column))


SUITE = Path(__file__).resolve().parents[2].parent / "shared" / "html5lib-tests" / "tokenizer"
DIFFERENCES_FILE = Path(__file__).with_name("html5lib_differences.txt")

summary: collections.Counter = collections.Counter()


def load_differences() -> tuple[dict[str, str], dict[str, str]]:
    """The reason codes and the listed tests, from the differences file."""
    reasons: dict[str, str] = {}
    listed: dict[str, str] = {}
    for line in DIFFERENCES_FILE.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("reason "):
            code, _, text = line[len("reason ") :].partition(":")
            reasons[code.strip()] = text.strip()
        else:
            test_id, code = line.rsplit(None, 1)
            listed[test_id] = code
    return reasons, listed


REASONS, LISTED = load_differences()


def unescape(text: str) -> str:
    return re.sub(r"\\u([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)


def load_suite():
    """(id, test) for every test used; skip reasons are counted in `summary`."""
    if not SUITE.is_dir():
        return []
    used = []
    for path in sorted(SUITE.glob("*.test")):
        data = json.loads(path.read_text(encoding="utf-8"))
        if "tests" not in data:
            summary["skipped: XML infoset coercion"] += len(next(iter(data.values())))
            continue
        for index, test in enumerate(data["tests"]):
            for state in test.get("initialStates", ["Data state"]):
                suffix = "" if state == "Data state" else "/" + state.split()[0]
                used.append((f"{path.name}:{index}{suffix}", dict(test, initialState=state)))
    return used


CASES = load_suite()


def expected_tokens(test) -> list[tuple]:
    tokens: list[tuple] = []
    for token in test["output"]:
        if test.get("doubleEscaped"):
            token = [unescape(t) if isinstance(t, str) else t for t in token]
            if token[0] == "StartTag":
                token[2] = {unescape(k): unescape(v) for k, v in token[2].items()}
        kind = token[0]
        if kind == "StartTag":
            tokens.append(("StartTag", token[1], token[2], len(token) > 3 and token[3]))
        elif kind == "DOCTYPE":
            tokens.append(("DOCTYPE", token[1], token[2], token[3]))
        elif kind == "Character" and tokens and tokens[-1][0] == "Character":
            tokens[-1] = ("Character", tokens[-1][1] + token[1])
        else:
            tokens.append(tuple(token))
    return tokens


def run(handler: Recorder, document: str, test) -> tuple[list[tuple], list[tuple]]:
    """The tokens, adjacent characters merged, and the errors, apart."""
    options = {"initial_state": test["initialState"]} if test["initialState"] != "Data state" else {}
    if "lastStartTag" in test:
        options["last_start_tag"] = test["lastStartTag"]
    htmltess.html_parse_string(handler, document, **options)
    events = handler.tokens()
    errors = [event[1:] for event in events if event[0] == "ParseError"]
    return merge_characters([event for event in events if event[0] != "ParseError"]), errors


def test_differences_file_uses_only_its_reasons():
    assert set(LISTED.values()) <= set(REASONS), set(LISTED.values()) - set(REASONS)


@pytest.mark.skipif(not CASES, reason="html5lib-tests not available")
@pytest.mark.parametrize("test_id, test", CASES, ids=[case[0] for case in CASES])
def test_html5lib(test_id, test):
    document = unescape(test["input"]) if test.get("doubleEscaped") else test["input"]
    summary["used"] += 1
    if "\r" in document:
        # The suite assumes newline normalisation, which this tokenizer does not do.
        document = document.replace("\r\n", "\n").replace("\r", "\n")
        summary["run with CR normalised"] += 1
    actual, errors = run(ErrorRecorder(), document, test)
    plain, plain_errors = run(Recorder(), document, test)
    assert plain == actual
    assert len(plain_errors) == sum(error[0] not in INPUT_STREAM_ERRORS for error in errors)
    expected_errors = [(error["code"], error["line"], error["col"]) for error in test.get("errors", [])]
    matches = actual == expected_tokens(test) and errors == expected_errors
    if test_id in LISTED:
        summary[f"listed: {LISTED[test_id]}"] += 1
        assert not matches, f"{test_id} is listed as a difference but now matches: remove it from the list"
    else:
        assert matches, f"{test['description']!r}: {document!r}"
        summary["exact matches"] += 1


def summary_line() -> str:
    if not summary["used"]:
        return "html5lib: suite not run"
    skipped = ", ".join(
        f"{k[len('skipped: ') :]} {v}" for k, v in sorted(summary.items()) if k.startswith("skipped")
    )
    listed = sum(v for k, v in summary.items() if k.startswith("listed"))
    by_reason = ", ".join(
        f"{k[len('listed: ') :]} {v}" for k, v in sorted(summary.items()) if k.startswith("listed")
    )
    return (
        f"html5lib: {summary['used']} used ({summary['run with CR normalised']} with CR normalised); "
        f"skipped: {skipped}; {summary['exact matches']} match exactly (tokens and errors); "
        f"{listed} listed differences ({by_reason})"
    )
