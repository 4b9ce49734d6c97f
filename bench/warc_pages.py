"""Pages per second per core of examples/warc_links.py on the corpus packed into WARC files.

    python3 bench/warc_pages.py [--corpus DIR] [--copies N] [--repeats N]

Writes the corpus pages as HTTP responses into one WARC file per worker (each page `--copies`
times), then times the serial run over all of them and the process pool with one worker per
core, and prints a Markdown table row for each: pages per second divided by the cores used.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from io import BytesIO
from pathlib import Path

from warcio.statusandheaders import StatusAndHeaders
from warcio.warcwriter import WARCWriter

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
import warc_links


def write_warcs(pages: list[Path], copies: int, files: int, folder: Path) -> list[str]:
    paths = [folder / f"corpus-{i}.warc.gz" for i in range(files)]
    writers = [(path.open("wb"), path) for path in paths]
    for i, (output, _) in enumerate(writers):
        writer = WARCWriter(output, gzip=True)
        for copy in range(copies):
            for page in pages[i::files]:
                headers = StatusAndHeaders("200 OK", [("Content-Type", "text/html")], protocol="HTTP/1.1")
                url = f"http://{page.stem}/{copy}"
                body = BytesIO(page.read_bytes())
                writer.write_record(
                    writer.create_warc_record(url, "response", payload=body, http_headers=headers)
                )
        output.close()
    return [str(path) for path in paths]


def best_rate(run, pages: int, repeats: int) -> tuple[float, float]:
    """Median and best pages per second of `run` over `repeats` passes."""
    rates = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        rates.append(pages / (time.perf_counter() - start))
    return statistics.median(rates), max(rates)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus" / "web")
    parser.add_argument("--copies", type=int, default=4)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    pages = sorted(args.corpus.glob("*.html"))
    if not pages:
        raise SystemExit(f"no pages in {args.corpus}")
    cores = os.cpu_count() or 1
    count = len(pages) * args.copies
    with tempfile.TemporaryDirectory() as folder:
        paths = write_warcs(pages, args.copies, cores, Path(folder))
        serial = best_rate(lambda: warc_links.links_serial(paths), count, args.repeats)
        pooled = best_rate(lambda: warc_links.links_with_processes(paths, cores), count, args.repeats)
    print("| Run | Pages | Pages/s per core (median) | best |")
    print("|---|---:|---:|---:|")
    print(f"| serial, 1 core | {count} | {serial[0]:.0f} | {serial[1]:.0f} |")
    print(f"| process pool, {cores} cores | {count} | {pooled[0] / cores:.0f} | {pooled[1] / cores:.0f} |")


if __name__ == "__main__":
    main()
