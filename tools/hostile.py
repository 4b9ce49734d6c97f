#!/usr/bin/env python3
"""Measures the hostile documents at full size: wall time and peak RSS of each parse.

Each case runs in a forked child that builds its document, parses it with the counting
handler, checks the counts and reports how long the parse took and the child's peak
resident set size (document included). Not part of the test suite: it takes minutes and
gigabytes. Import path: build/dev (the extension) and python/.

    PYTHONPATH=build/dev:python python3 tools/hostile.py [--only NAME ...] [--skip-big-file]

The big-file case writes a document of a little over 4.5 GiB (after checking free disk
space), parses it from the file and deletes it: counts past 2^32 bytes must not wrap.
"""

from __future__ import annotations

import argparse
import json
import multiprocessing
import resource
import shutil
import sys
import tempfile
import time
from pathlib import Path

from counting import count, count_file
from hostile_documents import CASES, STATE_PREFIXES

SIZES = {
    "ampersand_letters": 100_000_000,
    "ampersand_letters_semicolon": 100_000_000,
    "ampersand_hash": 10_000_000,
    "ampersand_hash_x": 10_000_000,
    "long_number": 100_000_000,
    "distinct_attributes": 100_000,
    "duplicate_attributes": 100_000,
    "long_comment": 100_000_000,
    "bogus_comments": 10_000_000,
    "long_attribute_value": 100_000_000,
    "long_tag_name": 100_000_000,
    "long_public_identifier": 100_000_000,
    "less_than_signs": 10_000_000,
    "nul_bytes": 10_000_000,
    "invalid_utf8": 10_000_000,
}

BLOCK_VALUE = 1 << 20  # code points in the attribute value of each block of the big file
BIG_FILE_BLOCKS = 4608  # blocks of about 1 MiB: the file ends past 4.5 GiB
TAIL = b"<p>after</p>"


def peak_rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def measure_case(name: str):
    document, expected = CASES[name](SIZES[name])
    started = time.perf_counter()
    counts = count(document)
    seconds = time.perf_counter() - started
    return {
        "case": name,
        "n": SIZES[name],
        "bytes": len(document),
        "seconds": round(seconds, 2),
        "peak_rss_mib": round(peak_rss_mib()),
        "ok": counts == expected,
        "counts": counts,
    }


def measure_each_byte_in_each_state():
    started = time.perf_counter()
    documents = bad = 0
    for prefix in STATE_PREFIXES:
        for value in range(256):
            for document in (prefix + bytes([value]), prefix + bytes([value]) + b"z>'\"-->"):
                counts = count(document)
                documents += 1
                bad += counts.get("EOF") != 1
    return {
        "case": "each_byte_in_each_state",
        "n": documents,
        "seconds": round(time.perf_counter() - started, 2),
        "peak_rss_mib": round(peak_rss_mib()),
        "ok": bad == 0,
    }


def measure_big_file(path: Path):
    expected = {
        "StartTag": BIG_FILE_BLOCKS + 1,
        "attributes": BIG_FILE_BLOCKS,
        "text": BIG_FILE_BLOCKS * (2 + BLOCK_VALUE) + 1 + 1,
        "Character": 5,
        "EndTag": 1,
        "EOF": 1,
    }
    started = time.perf_counter()
    counts = count_file(path)
    seconds = time.perf_counter() - started
    return {
        "case": "file_over_4_gib",
        "bytes": path.stat().st_size,
        "seconds": round(seconds, 2),
        "peak_rss_mib": round(peak_rss_mib()),
        "ok": counts == expected,
        "counts": counts,
    }


def write_big_file(directory: Path) -> Path:
    block = b"<p a='" + b"v" * BLOCK_VALUE + b"'>"
    size = len(block) * BIG_FILE_BLOCKS + len(TAIL)
    free = shutil.disk_usage(directory).free
    if free < size + (2 << 30):
        raise SystemExit(f"need {size + (2 << 30)} bytes free in {directory}, have {free}")
    path = directory / "big.html"
    with open(path, "wb") as out:
        out.writelines(block for _ in range(BIG_FILE_BLOCKS))
        out.write(TAIL)
    assert path.stat().st_size == size > 1 << 32
    return path


def _report(sender, function, args):
    try:
        sender.send(function(*args))
    except BaseException as error:  # noqa: BLE001 - reported as the case's result
        sender.send({"case": str(args), "ok": False, "error": f"{type(error).__name__}: {error}"})


def in_child(function, *args):
    context = multiprocessing.get_context("fork")
    receiver, sender = context.Pipe(duplex=False)
    child = context.Process(target=_report, args=(sender, function, args))
    child.start()
    sender.close()
    try:
        return receiver.recv()
    except EOFError:
        child.join()
        return {"case": str(args), "ok": False, "error": f"crashed, exit code {child.exitcode}"}
    finally:
        child.join()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="*", default=None, help="case names to run")
    parser.add_argument("--skip-big-file", action="store_true", help="leave out the file over 4 GiB")
    parser.add_argument(
        "--dir", type=Path, default=Path(tempfile.gettempdir()), help="where to write the big file"
    )
    options = parser.parse_args()

    results = []
    for name in CASES:
        if options.only is None or name in options.only:
            results.append(in_child(measure_case, name))
            print(json.dumps(results[-1]), flush=True)
    if options.only is None or "each_byte_in_each_state" in options.only:
        results.append(in_child(measure_each_byte_in_each_state))
        print(json.dumps(results[-1]), flush=True)
    if not options.skip_big_file and (options.only is None or "file_over_4_gib" in options.only):
        directory = Path(tempfile.mkdtemp(dir=options.dir, prefix="htmltess-hostile-"))
        try:
            started = time.perf_counter()
            path = write_big_file(directory)
            print(
                json.dumps({"wrote": str(path), "seconds": round(time.perf_counter() - started, 2)}),
                flush=True,
            )
            results.append(in_child(measure_big_file, path))
            print(json.dumps(results[-1]), flush=True)
        finally:
            shutil.rmtree(directory)
    return 0 if all(result["ok"] for result in results) else 1


if __name__ == "__main__":
    sys.exit(main())
