"""Hostile documents must finish, in bounded time, with the counts their construction implies.

Each parse runs in a forked child, so that a hang or a crash fails its test instead of
the whole run; the timeout is far above the expected time and only catches hangs.
Sizes are modest here; tools/hostile.py runs the same cases at full size and measures them.
"""

from __future__ import annotations

import contextlib
import multiprocessing

import pytest
from counting import count, count_file
from hostile_documents import CASES, STATE_PREFIXES

HANG_TIMEOUT = 300  # seconds

SIZES = {
    "ampersand_letters": 1_000_000,
    "ampersand_letters_semicolon": 1_000_000,
    "ampersand_hash": 300_000,
    "ampersand_hash_x": 300_000,
    "long_number": 10_000_000,
    "distinct_attributes": 100_000,
    "duplicate_attributes": 100_000,
    "long_comment": 10_000_000,
    "bogus_comments": 300_000,
    "long_attribute_value": 10_000_000,
    "long_tag_name": 10_000_000,
    "long_public_identifier": 10_000_000,
    "less_than_signs": 500_000,
    "nul_bytes": 500_000,
    "invalid_utf8": 1_000_000,
}


def run_isolated(function, *args):
    """function(*args) computed in a forked child, so that a hang or a crash fails this test only."""
    context = multiprocessing.get_context("fork")
    receiver, sender = context.Pipe(duplex=False)
    child = context.Process(target=lambda: sender.send(function(*args)))
    child.start()
    sender.close()
    try:
        if receiver.poll(HANG_TIMEOUT):  # true at a result, and once the child has ended without one
            with contextlib.suppress(EOFError):
                return receiver.recv()
    finally:
        child.kill()
        child.join()
    pytest.fail(
        f"no result: the child crashed, raised or hung for {HANG_TIMEOUT} s (exit code {child.exitcode})"
    )


def test_every_case_has_a_size():
    assert SIZES.keys() == CASES.keys()


@pytest.mark.parametrize("name", CASES)
def test_hostile_document_from_memory(name):
    document, expected = CASES[name](SIZES[name])
    assert run_isolated(count, document) == expected


@pytest.mark.parametrize(
    "name", ["long_comment", "bogus_comments", "distinct_attributes", "ampersand_letters"]
)
def test_hostile_document_from_file(name, tmp_path):
    document, expected = CASES[name](SIZES[name])
    path = tmp_path / "hostile.html"
    path.write_bytes(document)
    assert run_isolated(count_file, path) == expected


def each_byte_after_each_prefix() -> list[str]:
    """Parses every prefix followed by every byte value, alone and followed by more markup;
    returns what went wrong."""
    problems = []
    for prefix in STATE_PREFIXES:
        for value in range(256):
            for document in (prefix + bytes([value]), prefix + bytes([value]) + b"z>'\"-->"):
                counts = count(document)
                reported = counts.get("Character", 0) + counts.get("text", 0)
                if counts.get("EOF") != 1 or reported > len(document):
                    problems.append(f"{document!r}: {counts}")
    return problems


def test_every_byte_in_every_state():
    assert run_isolated(each_byte_after_each_prefix) == []
