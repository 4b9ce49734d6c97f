"""The html5lib tokenizer suite, vendored in tests/html5lib-tests, run through html_parse_string.

Tests start in the data state; those with another initial state or with a
last start tag are skipped (this tokenizer has only the data state as a start).
Known differences are listed, each with a reason code, in
html5lib_differences.txt beside this file; the test fails on any other output
mismatch and on any listed entry that now matches. Parse errors are compared
by count only and reported, since error codes are not part of the interface.
"""

from __future__ import annotations

import collections
import json
import re
from pathlib import Path

import htmltess
import pytest
from inputs import HTML5LIB
from recording import Recorder

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
    used = []
    for path in sorted(HTML5LIB.glob("*.test")):
        data = json.loads(path.read_text(encoding="utf-8"))
        if "tests" not in data:
            summary["skipped: XML infoset coercion"] += len(next(iter(data.values())))
            continue
        for index, test in enumerate(data["tests"]):
            if "Data state" not in test.get("initialStates", ["Data state"]):
                summary["skipped: other initial state"] += 1
            elif "lastStartTag" in test:
                summary["skipped: last start tag"] += 1
            else:
                used.append((f"{path.name}:{index}", test))
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


def run(document: str) -> tuple[list[tuple], int]:
    recorder = Recorder()
    htmltess.html_parse_string(recorder, document)
    events = recorder.tokens()
    errors = events.count(("ParseError",))
    merged: list[tuple] = []
    for event in events:
        if event == ("ParseError",):
            continue
        if event[0] == "Character" and merged and merged[-1][0] == "Character":
            merged[-1] = ("Character", merged[-1][1] + event[1])
        else:
            merged.append(event)
    return merged, errors


def test_differences_file_uses_only_its_reasons():
    assert set(LISTED.values()) <= set(REASONS), set(LISTED.values()) - set(REASONS)


@pytest.mark.parametrize("test_id, test", CASES, ids=[case[0] for case in CASES])
def test_html5lib(test_id, test):
    document = unescape(test["input"]) if test.get("doubleEscaped") else test["input"]
    summary["used"] += 1
    if "\r" in document:
        # The suite assumes newline normalisation, which this tokenizer does not do.
        document = document.replace("\r\n", "\n").replace("\r", "\n")
        summary["run with CR normalised"] += 1
    actual, errors = run(document)
    if errors != len(test.get("errors", [])):
        summary["error-count differences"] += 1
    matches = actual == expected_tokens(test)
    if test_id in LISTED:
        summary[f"listed: {LISTED[test_id]}"] += 1
        assert not matches, f"{test_id} is listed as a difference but now matches: remove it from the list"
    else:
        assert matches, f"{test['description']!r}: {document!r}"
        summary["output matches"] += 1


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
        f"skipped: {skipped}; {summary['output matches']} output matches; "
        f"{listed} listed differences ({by_reason}); "
        f"{summary['error-count differences']} error-count differences"
    )
