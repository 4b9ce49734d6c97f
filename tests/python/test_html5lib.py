"""The html5lib tokenizer suite, vendored in tests/html5lib-tests, run through html_parse_string.

A test runs once per initial state it lists, through the keyword arguments
initial_state and last_start_tag; the id of a run from another state than the
data state ends in "/" and the state's first word. Each run must give the
suite's tokens and its number of parse errors (error codes are not part of the
interface). Known differences are listed in html5lib_differences.txt beside
this file, each under a reason code; a listed test must differ exactly as its
reason says, so an entry that now matches fails.
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

skipped: collections.Counter = collections.Counter()


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
    """(id, test) for every test used; skip reasons are counted in `skipped`."""
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


def test_the_suite_is_there_and_its_differences_use_known_reasons():
    assert len(CASES) > 6000, f"the html5lib tests are missing from {HTML5LIB}"
    assert set(REASONS) == set(EFFECTS) and set(LISTED.values()) <= set(REASONS)


@pytest.mark.parametrize("test_id, test", CASES, ids=[case[0] for case in CASES])
def test_html5lib(test_id, test):
    document = unescape(test["input"]) if test.get("doubleEscaped") else test["input"]
    if "\r" in document:
        # The suite assumes newline normalisation, which this tokenizer does not do.
        document = document.replace("\r\n", "\n").replace("\r", "\n")
    recorder = Recorder()
    options = {"initial_state": test["initialState"]} if test["initialState"] != "Data state" else {}
    if "lastStartTag" in test:
        options["last_start_tag"] = test["lastStartTag"]
    htmltess.html_parse_string(recorder, document, **options)
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


def summary_line() -> str:
    normalised = sum("\r" in test["input"] for _, test in CASES)
    listed = ", ".join(f"{reason} {n}" for reason, n in sorted(collections.Counter(LISTED.values()).items()))
    return (
        f"html5lib: {len(CASES)} tests used ({normalised} with CR normalised), {len(CASES) - len(LISTED)} must "
        f"match in tokens and parse errors; listed differences: {listed}; "
        f"skipped: {', '.join(f'{why} {n}' for why, n in sorted(skipped.items()))}"
    )
