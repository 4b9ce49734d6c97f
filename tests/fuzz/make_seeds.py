"""Writes the fuzzer's seed corpus: every input of the html5lib tokenizer tests,
once per initial state it lists, and a few small slices of each web page, in
the data state and in browser mode, both vendored under tests/, plus the pages
of ../shared/corpus/web beside the repository when it is there. Each seed
begins with the byte that chooses the fuzzer's options.
Usage: make_seeds.py REPO_ROOT OUT_DIR"""

from __future__ import annotations

import hashlib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
from inputs import html5lib_documents

SLICE = 2048
SLICES_PER_PAGE = 3
# The option bytes (see Options in fuzz_tokenizer.cpp): initial states, and browser mode with scripting.
STATES = {
    "Data state": 0,
    "RCDATA state": 1,
    "RAWTEXT state": 2,
    "Script data state": 3,
    "PLAINTEXT state": 4,
    "CDATA section state": 5,
}
DATA, BROWSER = 6, 6 | 8 | 16


def html5lib_inputs():
    for text, options in html5lib_documents():
        state = STATES[options.get("initial_state", "Data state")]
        yield bytes([state]) + text.encode("utf-8", "surrogatepass")


def page_slices(directory: Path):
    for page in sorted(directory.glob("*.html")):
        data = page.read_bytes()
        step = max(len(data) // SLICES_PER_PAGE, 1)
        for start in range(0, len(data), step):
            for options in DATA, BROWSER:
                yield bytes([options]) + data[start : start + SLICE]


def main() -> None:
    root, out = Path(sys.argv[1]).resolve(), Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    extra = root.parent / "shared" / "corpus" / "web"
    if not extra.is_dir():
        print(f"seeds: {extra} is absent; vendored pages only")
    samples = [*html5lib_inputs(), *page_slices(root / "tests" / "corpus"), *page_slices(extra)]
    for sample in samples:
        (out / hashlib.sha1(sample).hexdigest()).write_bytes(sample)
    print(f"{len(samples)} inputs in {out}")


if __name__ == "__main__":
    main()
