"""The html5lib tokenizer suite, vendored in tests/html5lib-tests, run through html_parse_string.

Tests start in the data state; those with another initial state or with a
last start tag are skipped (this tokenizer has only the data state as a start).
Each test must give the suite's tokens and its number of parse errors (error
codes are not part of the interface). Known differences are listed in
html5lib_differences.txt beside this file, each under a reason code; a listed
test must differ exactly as its reason says, so an entry that now matches fails.
"""

from __future__ import annotations

import collections
import json
import re
from pathlib import Path

import htmltess
import pytest
from inputs import HTML5LIB
from recording import Recorder, merge_characters

DIFFERENCES_FILE = Path(__file__).with_name("html5lib_differences.txt")
INPUT_STREAM_ERRORS = {
    "control-character-in-input-stream",
    "noncharacter-in-input-stream",
    "surrogate-in-input-stream",
}
# Each reason's effect, given the suite's error codes for a test: how far it moves the number of parse
# errors, or None when the reason is a difference in the tokens.
EFFECTS = {
    "BOGUS_FIRST": None,
    "INPUT_STREAM": lambda codes: -sum(code in INPUT_STREAM_ERRORS for code in codes),
    "NUL_IN_BOGUS": lambda codes: -1,
    "COMMENT_END": lambda codes: 1,
    "DOCTYPE_GT": lambda codes: 1,
}

summary: collections.Counter = collections.Counter()


def load_differences() -> tuple[dict[str, str], dict[str, str]]:
    """The reasons with their explanations, and the reason of each listed test."""
    reasons: dict[str, str] = {}
    listed: dict[str, str] = {}
    for line in DIFFERENCES_FILE.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if line.startswith("reason "):
            code, _, text = line[len("reason ") :].partition(":")
            reasons[code.strip()] = text.strip()
        elif line:
            test_id, code = line.split()
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
        if token[0] == "StartTag":
            tokens.append(("StartTag", token[1], token[2], len(token) > 3 and token[3]))
        elif token[0] == "DOCTYPE":
            tokens.append(("DOCTYPE", token[1], token[2], token[3]))
        else:
            tokens.append(tuple(token))
    return merge_characters(tokens)


def test_differences_file_uses_only_known_reasons():
    assert set(REASONS) == set(EFFECTS) and set(LISTED.values()) <= set(REASONS)


def test_the_suite_is_there():
    assert len(CASES) > 6000, f"the html5lib tests are missing from {HTML5LIB}"


@pytest.mark.parametrize("test_id, test", CASES, ids=[case[0] for case in CASES])
def test_html5lib(test_id, test):
    document = unescape(test["input"]) if test.get("doubleEscaped") else test["input"]
    summary["used"] += 1
    if "\r" in document:
        # The suite assumes newline normalisation, which this tokenizer does not do.
        document = document.replace("\r\n", "\n").replace("\r", "\n")
        summary["run with CR normalised"] += 1
    recorder = Recorder()
    htmltess.html_parse_string(recorder, document)
    events = recorder.tokens()
    tokens = merge_characters([event for event in events if event != ("ParseError",)])
    errors = events.count(("ParseError",))
    codes = [error["code"] for error in test.get("errors", [])]
    reason = LISTED.get(test_id)
    effect = EFFECTS[reason] if reason else (lambda codes: 0)
    shown = f"{test['description']!r}: {document!r}"
    if reason and effect is None:
        assert tokens != expected_tokens(test), f"{test_id} is listed as a difference but now matches"
        assert errors == len(codes), shown
    else:
        moved = effect(codes)
        assert moved or not reason, f"{test_id} is listed as a difference but its errors now match"
        assert (tokens, errors) == (expected_tokens(test), len(codes) + moved), shown
    summary[f"listed: {reason}" if reason else "matches"] += 1


def summary_line() -> str:
    if not summary["used"]:
        return "html5lib: suite not run"
    by_reason = ", ".join(
        f"{k[len('listed: ') :]} {v}" for k, v in sorted(summary.items()) if k.startswith("listed")
    )
    skipped = ", ".join(
        f"{k[len('skipped: ') :]} {v}" for k, v in sorted(summary.items()) if k.startswith("skipped")
    )
    return (
        f"html5lib: {summary['used']} used ({summary['run with CR normalised']} with CR normalised); "
        f"skipped: {skipped}; {summary['matches']} match tokens and parse errors; listed differences: {by_reason}"
    )
