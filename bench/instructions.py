#!/usr/bin/env python3
"""Instructions each opt-in feature adds, counted by callgrind: a measure that a busy machine does not blur.

Each variant runs in a fresh interpreter under `valgrind --tool=callgrind` over the same pages; a run that only
loads the pages is subtracted, so a count is that of the passes alone. Python variants use the installed (or
PYTHONPATH) htmltess and bench/workloads.py's handlers; the native ones run `htmltess_core_bench` (built as
bench/run.py builds it) with collection limited to its tokenizer.

    python3 bench/instructions.py [--pages N] [--output FILE]
"""

from __future__ import annotations

import argparse
import datetime
import platform
import re
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

# (label, workload function, input kind, reference label): input kind is "bytes" or "str".
PYTHON_VARIANTS = [
    ("W2", "htmltess_w2", "bytes", None),
    ("W2, browser mode", "htmltess_w2_browser", "bytes", "W2"),
    ("W2, OnError (codes and positions)", "htmltess_w2e", "bytes", "W2"),
    ("W2, OnError, errors not kept", "htmltess_w2e_unkept", "bytes", "W2"),
    ("W2, span() of every start tag", "htmltess_w2s", "bytes", "W2"),
    ("W2, span() of every start tag, not kept", "htmltess_w2s_unkept", "bytes", "W2"),
    ("W2, str input", "htmltess_w2", "str", None),
    ("W2, str input, span() of every start tag", "htmltess_w2s", "str", "W2, str input"),
    ("W2, str input, span() not kept", "htmltess_w2s_unkept", "str", "W2, str input"),
    ("W1t", "htmltess_w1t", "bytes", None),
    ("W1t, browser mode", "htmltess_w1t_browser", "bytes", "W1t"),
]

# Run in the child: loads the pages, then runs one workload pass over them (none for the baseline).
CHILD = """
import sys
sys.path.insert(0, {bench!r})
import workloads as w
paths, function, kind = {paths!r}, {function!r}, {kind!r}
pages = []
for path in paths:
    data = open(path, "rb").read()
    text = data.decode("utf-8", errors="replace")
    pages.append(w.Page(path, path, text if kind == "str" else data, text))
if function:
    getattr(w, function)(pages)
"""


def callgrind(command: list[str], *extra: str) -> int:
    """Instructions counted by callgrind over the command."""
    with tempfile.TemporaryDirectory() as directory:
        out = Path(directory) / "callgrind.out"
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *extra, *command],
            check=True,
            capture_output=True,
        )
        totals = re.search(r"^(?:summary|totals): (\d+)", out.read_text(), re.MULTILINE)
        return int(totals.group(1))


def python_count(paths: list[str], function: str | None, kind: str) -> int:
    code = CHILD.format(bench=str(HERE), paths=paths, function=function, kind=kind)
    return callgrind([sys.executable, "-c", code])


def native_counts(paths: list[str]) -> dict[str, int]:
    """The core's instructions from memory, in the default and the browser mode, and the bare decode's."""
    import native

    executable = native.build(ROOT, ROOT / "build" / "bench")
    if executable is None:
        return {}
    toggles = {
        "memory": "(anonymous namespace)::Tokenize(*",
        "browser": "(anonymous namespace)::Tokenize(*",
        "decode": "*DecodeSum(*",
    }
    return {
        name: callgrind([str(executable), "--only", name, "1", *paths], f"--toggle-collect={toggle}")
        for name, toggle in toggles.items()
    }


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus" / "web")
    parser.add_argument("--pages", type=int, default=30, help="the first N pages by name (default 30)")
    parser.add_argument(
        "--output", type=Path, help="also write the table to this file (bench/INSTRUCTIONS.md)"
    )
    args = parser.parse_args(argv)
    paths = [str(path) for path in sorted(args.corpus.glob("*.html"))[: args.pages]]
    if not paths:
        print(f"no pages in {args.corpus}", file=sys.stderr)
        return 1
    size = sum(Path(path).stat().st_size for path in paths)
    baseline = {kind: python_count(paths, None, kind) for kind in ("bytes", "str")}
    counts = {}
    for label, function, kind, _ in PYTHON_VARIANTS:
        counts[label] = python_count(paths, function, kind) - baseline[kind]
        print(f"{label}: {counts[label]:,}", file=sys.stderr, flush=True)
    import htmltess

    lines = [
        "# Instruction counts",
        "",
        f"`python3 bench/instructions.py {' '.join(argv)}`".replace(" `", "`"),
        "",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC",
        f"- Python: {platform.python_implementation()} {platform.python_version()}; htmltess from {htmltess.__file__}",
        f"- {len(paths)} pages ({size / 1e6:.1f} MB), the first by name; instructions per input byte",
        "",
        "| Variant | Instructions per byte | Against |",
        "|---|---:|---|",
    ]
    for label, _, _, reference in PYTHON_VARIANTS:
        against = f"{counts[label] / counts[reference] - 1:+.1%} on {reference}" if reference else ""
        lines.append(f"| {label} | {counts[label] / size:.1f} | {against} |")
    native = native_counts(paths)
    if native:
        lines.append(f"| core (C++), from memory | {native['memory'] / size:.1f} | |")
        lines.append(
            f"| core (C++), browser mode | {native['browser'] / size:.1f} | "
            f"{native['browser'] / native['memory'] - 1:+.1%} on core |"
        )
        lines.append(
            f"| UTF-8 decode floor (C++) | {native['decode'] / size:.1f} | "
            f"core takes {native['memory'] / native['decode']:.2f}x its instructions |"
        )
    table = "\n".join(lines)
    print(table)
    if args.output:
        args.output.write_text(table + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
