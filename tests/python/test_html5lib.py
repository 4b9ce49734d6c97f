"""The html5lib tokenizer suite, vendored in tests/html5lib-tests, run through html_parse_string once per
initial state a test lists (the run's id then ends in "/" and the state's first word). Text in runs, tokens
and (code, line, column) errors must be the suite's; characters one by one must give the same tokens and an
OnParseError per error but the input-stream ones. Known differences are listed, each under a reason code, in
html5lib_differences.txt beside this file; a listed test fails once it matches.
"""

from __future__ import annotations

import collections
import json
from pathlib import Path

import htmltess
import pytest
from inputs import HTML5LIB, unescape
from recording import ErrorTextRecorder, Recorder, merge_characters

DIFFERENCES_FILE = Path(__file__).with_name("html5lib_differences.txt")
INPUT_STREAM_ERRORS = {
    f"{kind}-in-input-stream" for kind in ("control-character", "noncharacter", "surrogate")
}

skipped: collections.Counter = collections.Counter()


def load_differences() -> tuple[set[str], dict[str, str]]:
    """The reason codes, and the reason of each listed test."""
    reasons, listed = set(), {}
    for line in DIFFERENCES_FILE.read_text(encoding="utf-8").splitlines():
        words = line.split("#", 1)[0].split()
        if words[:1] == ["reason"]:
            reasons.add(words[1].rstrip(":"))
        elif words:
            listed[words[0]] = words[1]
    return reasons, listed


REASONS, LISTED = load_differences()


def load_suite():
    """(id, test) for every run: one per test and initial state."""
    used = []
    for path in sorted(HTML5LIB.glob("*.test")):
        data = json.loads(path.read_text(encoding="utf-8"))
        if "tests" not in data:
            skipped["XML infoset coercion"] += len(next(iter(data.values())))
            continue
        for index, test in enumerate(data["tests"]):
            for state in test.get("initialStates", ["Data state"]):
                suffix = "" if state == "Data state" else "/" + state.split()[0]
                used.append((f"{path.name}:{index}{suffix}", dict(test, initialState=state)))
    return used


CASES = load_suite()


def expected_tokens(test) -> list[tuple]:
    tokens: list[tuple] = []
    for kind, *fields in test["output"]:
        if test.get("doubleEscaped"):
            fields = [unescape(f) if isinstance(f, str) else f for f in fields]
            if kind == "StartTag":
                fields[1] = {unescape(k): unescape(v) for k, v in fields[1].items()}
        if kind == "StartTag":
            fields = [fields[0], fields[1], len(fields) > 2 and fields[2]]
        tokens.append((kind, *fields[:3]))  # a DOCTYPE's correctness flag is not part of the interface
    return merge_characters(tokens)


def run(handler: Recorder, document: str, test) -> tuple[list[tuple], list[tuple]]:
    """The tokens, adjacent characters merged, and the errors, apart."""
    options = {"initial_state": test["initialState"]} if test["initialState"] != "Data state" else {}
    if "lastStartTag" in test:
        options["last_start_tag"] = test["lastStartTag"]
    htmltess.html_parse_string(handler, document, **options)
    events = handler.tokens()
    errors = [event[1:] for event in events if event[0] == "ParseError"]
    return merge_characters([event for event in events if event[0] != "ParseError"]), errors


def test_the_suite_is_there_and_its_differences_use_known_reasons():
    assert len(CASES) > 6000, f"the html5lib tests are missing from {HTML5LIB}"
    assert set(LISTED.values()) <= REASONS, set(LISTED.values()) - REASONS


@pytest.mark.parametrize("test_id, test", CASES, ids=[case[0] for case in CASES])
def test_html5lib(test_id, test):
    document = unescape(test["input"]) if test.get("doubleEscaped") else test["input"]
    if "\r" in document:
        # The suite assumes newline normalisation, which this tokenizer does not do.
        document = document.replace("\r\n", "\n").replace("\r", "\n")
    text = ErrorTextRecorder()
    tokens, errors = run(text, document, test)
    plain, plain_errors = run(Recorder(), document, test)
    assert plain == tokens and all(event[0] != "Character" for event in text.events)
    assert len(plain_errors) == sum(error[0] not in INPUT_STREAM_ERRORS for error in errors)
    expected_errors = [(error["code"], error["line"], error["col"]) for error in test.get("errors", [])]
    matches = (tokens, errors) == (expected_tokens(test), expected_errors)
    if test_id in LISTED:
        assert not matches, f"{test_id} is listed as a difference but now matches: remove it from the list"
    else:
        assert matches, f"{test['description']!r}: {document!r}"


def summary_line() -> str:
    normalised = sum("\r" in test["input"] for _, test in CASES)
    listed = ", ".join(f"{reason} {n}" for reason, n in sorted(collections.Counter(LISTED.values()).items()))
    return (
        f"html5lib: {len(CASES)} runs ({normalised} with CR normalised), {len(CASES) - len(LISTED)} match "
        f"exactly in tokens and (code, line, column) errors; listed differences: {listed}; "
        f"skipped: {', '.join(f'{why} {n}' for why, n in sorted(skipped.items()))}"
    )
