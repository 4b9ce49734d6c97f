"""Measures htmltess side by side with other HTML libraries and writes the table to bench/RESULTS.md.

Usage, from the repository root:

    nice python3 bench/run.py [--repeats N] [--quick] [--only W1,W1t,W2,W3,cli,floor,entities,feed,scale,memory]

    --repeats N   timed passes per row, interleaved; the table shows the median (default 5)
    --quick       a tenth of the pages and smaller generated inputs: a smoke run, not a measurement
    --only LIST   the workloads to run (default: all)
    --corpus DIR  the pages (default: ../shared/corpus/web beside the repository)
    --output FILE where the Markdown goes (default: bench/RESULTS.md)
    --no-install  do not pip-install missing peers

htmltess is imported the usual way: the installed package (`pip install .`) or a build tree on the path
(`PYTHONPATH=build/dev:python python3 bench/run.py`). The peers are the `bench` extra of pyproject.toml
(html5lib, lxml, selectolax); the ones that cannot be imported are pip-installed first. The native floor,
`htmltess_core_bench`, is configured once into build/bench and rebuilt on every run, so it always measures
the current sources. Rows whose implementation is missing show "n/a".

Method: every page is read into memory as bytes before timing (and decoded to str with errors="replace"
for the peers that take str). Each repetition runs every row's pass over all pages once, in a fixed order,
so slow drifts of the machine spread over all rows alike; a row's throughput is its input bytes (UTF-8, as
read from disk) over the median pass time. "× htmltess" is the row's throughput over that of the workload's
reference row (below 1: slower than the reference). Run it on a quiet machine: other load shows as spread.
"""

from __future__ import annotations

import argparse
import functools
import gc
import importlib
import importlib.util
import os
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import native
import peak_rss
from report import Row, environment, markdown_table

ROOT = Path(__file__).resolve().parent.parent
WORKLOADS = ("W1", "W1t", "W2", "W3", "cli", "floor", "entities", "feed", "scale", "memory")
BENCH_EXTRA = {"html5lib": "html5lib", "lxml": "lxml", "selectolax": "selectolax"}  # distribution: module

QUICK_STRIDE = 10
ENTITY_BYTES, QUICK_ENTITY_BYTES = 10_000_000, 1_000_000
CONCATENATED_BYTES, QUICK_CONCATENATED_BYTES = 200_000_000, 20_000_000
FED_BYTES, QUICK_FED_BYTES = 10_000_000, 1_000_000
FEED_CHUNK = 65536
SCALE_COPIES, QUICK_SCALE_COPIES = 4, 1

LEGEND = """\
- W1, every token: every callback counted. htmltess: all seven methods overridden (one OnChar call per
  character); html.parser: convert_charrefs=True, every handle_* method; html5lib: its tokenizer iterated,
  tokens counted by type; lxml: parser target with start/end/data/comment/doctype/close.
- W1t, every token with text runs: as W1, but htmltess delivers characters as runs through OnText, also in
  browser mode (the text of script, style, title, ... as a browser tokenizes it). The peers' rows repeat
  their W1 passes, which already deliver text in runs.
- W2, tags only: (name, attributes dict) of every start tag collected, also in browser mode. The OnError
  row also collects every parse error with its code and position; the span row each start tag's span(). selectolax builds a tree
  and walks its element nodes, which include the implied html/head/body.
- W3, native floor: the C++ tokenizer with a handler that does nothing (`htmltess_core_bench`), from memory
  and from files, in browser mode from memory, and the bare UTF-8 decode of the same bytes; lxml and
  selectolax building a whole tree per page, for scale. × htmltess is relative to the core from memory.
- cli, the command: the JSON Lines writer of `htmltess FILE` (text through OnText, browser mode as the
  command's default) writing every page's tokens to /dev/null, in process (no interpreter start).
  × htmltess is relative to W1t.
- floor, the call floors: a workload's Python calls (the same count per method and page, with the arguments
  htmltess gives, recorded once untimed by a handler overriding the same callbacks), made on the workload's
  own handler from C by `deque(map(...))` / `deque(starmap(...))` over the prebuilt arguments: what the
  workload would take were the parse itself free. "call floor" is W1's, "W1t call floor" W1t's (runs through
  OnText; its MB/s bounds W1t's), "W2 call floor" W2's (OnStartTag copying each attributes dict, given a
  dict of its own). × htmltess is the workload's htmltess time over the floor's: how many times the floor
  it takes. The W2 floor's note also gives lxml's W2 time over the floor's: the most times lxml's W2
  throughput that any parser delivering these calls could reach, its own parse costing nothing.
- entities: generated prose in which every word is followed by a named reference drawn from the whole table,
  with or without semicolon; htmltess counting as in W1 and the native core over the same bytes.
- feed: the pages concatenated and cut to 10 MB, fed to an htmltess.Parser in one piece and one byte at a
  time (the feed calls made from C by `deque(map(parser.feed, pieces))`), with W1's handler (one OnChar per
  character) and W1t's (OnText). × htmltess is relative to the one-piece row of the same handler.
- scale: examples/warc_links.py extracting the links of the pages, each written four times as an HTTP response
  into gzipped WARC files (one per core), serially and in a process pool of one worker per core (its start
  included). The note gives pages per second per core used; × htmltess is relative to the serial row.
- memory: growth of the peak RSS (ru_maxrss) of a fresh interpreter across one html_parse_file call with a
  handler that overrides nothing, and across feeding the concatenated pages to a Parser in 64 KiB chunks
  read from the file."""


@dataclass
class Job:
    """A pass that times one or more rows at once, and a small first run that checks it works."""

    rows: list[Row]
    run: Callable[[], list[float]]
    check: Callable[[], object]


def timed(function: Callable, argument) -> float:
    gc.collect()
    start = time.perf_counter()
    result = function(argument)
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def python_job(row: Row, function: Callable, argument: list) -> Job:
    return Job([row], lambda: [timed(function, argument)], lambda: function(argument[:1]))


def native_job(rows: list[Row], executable: Path, paths: list[str], fields: list[str]) -> Job:
    def run() -> list[float]:
        measured = native.run(executable, paths)
        return [measured[name]["median"] for name in fields]

    return Job(rows, run, lambda: native.run(executable, paths[:1]))


def workload_list(text: str) -> tuple[str, ...]:
    canonical = {name.lower(): name for name in WORKLOADS}
    chosen = []
    for item in filter(None, (part.strip() for part in text.split(","))):
        if item.lower() not in canonical:
            raise argparse.ArgumentTypeError(f"unknown workload {item!r}; choose from {', '.join(WORKLOADS)}")
        chosen.append(canonical[item.lower()])
    return tuple(chosen)


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Benchmark htmltess against its peers.")
    parser.add_argument("--repeats", type=positive_int, default=5, help="timed passes per row (default 5)")
    parser.add_argument("--quick", action="store_true", help="a subset of pages: a smoke run")
    parser.add_argument("--only", type=workload_list, default=WORKLOADS, help=",".join(WORKLOADS))
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus" / "web")
    parser.add_argument("--output", type=Path, default=ROOT / "bench" / "RESULTS.md")
    parser.add_argument("--no-install", action="store_true", help="do not pip-install missing peers")
    return parser.parse_args(argv)


def available_peers(install: bool) -> set[str]:
    """The peer modules that can be imported, after pip-installing the missing ones if asked to."""
    missing = [dist for dist, module in BENCH_EXTRA.items() if importlib.util.find_spec(module) is None]
    if missing and install:
        print(f"installing missing peers: {' '.join(missing)}", file=sys.stderr)
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", *missing], check=False)
        importlib.invalidate_caches()
    return {module for module in BENCH_EXTRA.values() if importlib.util.find_spec(module) is not None}


class Plan:
    """The rows of the table in order, and the jobs that time them."""

    def __init__(self, peers: set[str]) -> None:
        self.peers = peers
        self.rows: list[Row] = []
        self.jobs: list[Job] = []
        self.aliases: list[tuple[Row, tuple[str, str]]] = []
        self.bounds: list[tuple[Row, tuple[str, str]]] = []
        self.rates: list[tuple[Row, int, int]] = []

    def add(self, row: Row, job: Job | None = None) -> None:
        self.rows.append(row)
        if job is not None:
            self.jobs.append(job)

    def alias(self, row: Row, source: tuple[str, str]) -> None:
        """A row showing the passes of another row, against its own reference."""
        self.add(row)
        self.aliases.append((row, source))

    def bound(self, floor: Row, peer: tuple[str, str]) -> None:
        """Once measured, the floor row's note gives the peer row's time over the floor's: the most times the
        peer's throughput that any parser making the floor's calls could reach."""
        self.bounds.append((floor, peer))

    def rate(self, row: Row, pages: int, cores: int) -> None:
        """Once measured, the row's note gives its pages per second per core."""
        self.rates.append((row, pages, cores))

    def python(self, row: Row, function: Callable, argument: list, peer: str | None = None) -> None:
        """A Python pass, or an n/a row when the peer it needs is not installed."""
        if peer is not None and peer not in self.peers:
            row.result = "n/a (not installed)"
            self.add(row)
        else:
            self.add(row, python_job(row, function, argument))

    def check(self) -> None:
        """Runs every job once on a small input; a job that fails leaves its rows as n/a."""
        for job in list(self.jobs):
            try:
                job.check()
            except Exception as error:  # noqa: BLE001 - any failure of a peer is reported in the table
                for row in job.rows:
                    row.result = f"n/a ({type(error).__name__})"
                print(f"{job.rows[0].label}: {type(error).__name__}: {error}", file=sys.stderr)
                self.jobs.remove(job)

    def measure(self, repeats: int) -> None:
        for repetition in range(repeats):
            start = time.perf_counter()
            for job in self.jobs:
                for row, seconds in zip(job.rows, job.run()):
                    row.seconds.append(seconds)
            elapsed = time.perf_counter() - start
            print(f"repetition {repetition + 1}/{repeats}: {elapsed:.1f} s", file=sys.stderr, flush=True)
        rows = {row.key: row for row in self.rows}
        for row, source in self.aliases:
            row.seconds, row.result = rows[source].seconds, rows[source].result
        for floor, peer in self.bounds:
            if floor.seconds and peer in rows and rows[peer].seconds:
                floor.note += f"; any parser ≤ {floor.mbps() / rows[peer].mbps():.2f}× {rows[peer].label}"
        for row, pages, cores in self.rates:
            if row.seconds:
                row.note += f"; {pages / statistics.median(row.seconds) / cores:.0f} pages/s per core"


def load_pages(corpus: Path, quick: bool) -> list:
    from workloads import Page

    paths = sorted(corpus.glob("*.html"))
    if quick:
        paths = paths[::QUICK_STRIDE]
    pages = []
    for path in paths:
        data = path.read_bytes()
        pages.append(Page(path.name, str(path), data, data.decode("utf-8", errors="replace")))
    return pages


def plan_extension(plan: Plan, row: Row, method: str, function: Callable, pages: list) -> None:
    """A row for a handler method this build may lack: "n/a" without it."""
    import htmltess

    if hasattr(htmltess.HtmlHandler, method):
        plan.python(row, function, pages)
    else:
        row.result = "n/a"
        row.note = f"this build has no {method}"
        plan.add(row)


def plan_corpus(plan: Plan, selected: tuple[str, ...], pages: list, executable: Path | None) -> None:
    import workloads as w

    size = sum(len(page.data) for page in pages)
    if "W1" in selected:
        ref = ("W1", "htmltess")
        plan.python(Row("W1", "htmltess", size, ref, "one OnChar per character"), w.htmltess_w1, pages)
        plan.python(Row("W1", "html.parser", size, ref, "str input"), w.html_parser_w1, pages)
        plan.python(
            Row("W1", "html5lib", size, ref, "tokenizer only; str input"), w.html5lib_w1, pages, "html5lib"
        )
        plan.python(Row("W1", "lxml", size, ref, "parser target"), w.lxml_w1, pages, "lxml")
    if "W1t" in selected:
        ref = ("W1t", "htmltess (OnText)")
        text_row = Row("W1t", "htmltess (OnText)", size, ref, "characters as runs")
        plan_extension(plan, text_row, "OnText", w.htmltess_w1t, pages)
        browser_row = Row("W1t", "htmltess (OnText, browser mode)", size, ref, 'content_model="browser"')
        plan_extension(plan, browser_row, "OnText", w.htmltess_w1t_browser, pages)
        if "W1" in selected:
            for label in ("html.parser", "html5lib", "lxml"):
                plan.alias(Row("W1t", label, size, ref, "W1's passes"), ("W1", label))
    if "W2" in selected:
        ref = ("W2", "htmltess")
        plan.python(Row("W2", "htmltess", size, ref, "only OnStartTag overridden"), w.htmltess_w2, pages)
        browser_row = Row("W2", "htmltess (browser mode)", size, ref, 'content_model="browser"')
        plan.python(browser_row, w.htmltess_w2_browser, pages)
        error_row = Row("W2", "htmltess (OnError)", size, ref, "and OnError: codes and positions")
        plan_extension(plan, error_row, "OnError", w.htmltess_w2e, pages)
        span_row = Row("W2", "htmltess (span)", size, ref, "and span() of every start tag")
        plan_extension(plan, span_row, "span", w.htmltess_w2s, pages)
        plan.python(Row("W2", "html.parser", size, ref, "str input"), w.html_parser_w2, pages)
        plan.python(
            Row("W2", "html5lib", size, ref, "tokenizer only; str input"), w.html5lib_w2, pages, "html5lib"
        )
        plan.python(Row("W2", "lxml", size, ref, "parser target"), w.lxml_w2, pages, "lxml")
        plan.python(Row("W2", "selectolax", size, ref, "tree-based"), w.selectolax_w2, pages, "selectolax")
    if "cli" in selected:
        row = Row("cli", "htmltess command", size, ("W1t", "htmltess (OnText)"), "JSON Lines to /dev/null")
        plan.python(row, w.htmltess_cli, pages)
    if "W3" in selected:
        ref = ("W3", "htmltess core, memory")
        rows = [
            Row("W3", "htmltess core, memory", size, ref, "C++, handler doing nothing"),
            Row("W3", "htmltess core, memory, browser mode", size, ref, "C++, content model browser"),
            Row("W3", "htmltess core, file", size, ref, "C++, FileInputStream"),
            Row("W3", "UTF-8 decode floor", size, ref, "C++, decode only"),
        ]
        if executable is None:
            for row in rows:
                row.result = "n/a (not built)"
                plan.add(row)
        else:
            for row in rows:
                plan.add(row)
            plan.jobs.append(
                native_job(
                    rows, executable, [page.path for page in pages], ["memory", "browser", "file", "decode"]
                )
            )
        plan.python(Row("W3", "lxml", size, ref, "tree: etree.HTML"), w.lxml_tree, pages, "lxml")
        plan.python(
            Row("W3", "selectolax", size, ref, "tree: lexbor"), w.selectolax_tree, pages, "selectolax"
        )


def plan_feed(plan: Plan, pages: list, quick: bool) -> None:
    import workloads as w

    size = QUICK_FED_BYTES if quick else FED_BYTES
    whole, single = w.feed_pieces(pages, size, size), w.feed_pieces(pages, size, 1)
    size = len(single)
    for handler, function in [("W1", w.htmltess_fed_w1), ("W1t", w.htmltess_fed_w1t)]:
        ref = ("feed", f"htmltess, one piece ({handler})")
        plan.python(Row("feed", ref[1], size, ref, f"{handler}'s handler"), function, whole)
        note = f"{handler}'s handler; {size:,} feed calls"
        plan.python(Row("feed", f"htmltess, one byte a piece ({handler})", size, ref, note), function, single)


def plan_call_floors(plan: Plan, pages: list) -> None:
    """W1's, W1t's and W2's handler calls made from C: what each would take were its parse free. The W2 floor
    also bounds the ratio to lxml's W2 any parser could reach: lxml's time over the floor's."""
    import workloads as w

    size = sum(len(page.data) for page in pages)
    floors = [
        ("call floor", w.CountingHandler, ("W1", "htmltess"), None),
        ("W1t call floor", w.TextCountingHandler, ("W1t", "htmltess (OnText)"), None),
        ("W2 call floor", w.StartTagCollector, ("W2", "htmltess"), ("W2", "lxml")),
    ]
    for label, handler_class, reference, bounded in floors:
        recorded = w.record_calls(handler_class, pages)
        row = Row("floor", label, size, reference, f"{sum(page.count() for page in recorded):,} calls")
        plan.python(row, functools.partial(w.call_floor, handler_class), recorded)
        if bounded is not None:
            plan.bound(row, bounded)


def plan_entities(plan: Plan, quick: bool, scratch: Path, executable: Path | None) -> None:
    import workloads as w

    document = w.entity_document(QUICK_ENTITY_BYTES if quick else ENTITY_BYTES)
    path = scratch / "entities.html"
    path.write_bytes(document)
    page = w.Page(path.name, str(path), document, document.decode("utf-8"))
    ref = ("entities", "htmltess")
    plan.python(Row("entities", "htmltess", len(document), ref, "W1 counting"), w.htmltess_w1, [page])
    core = Row("entities", "htmltess core, memory", len(document), ref, "C++, handler doing nothing")
    if executable is None:
        core.result = "n/a (not built)"
        plan.add(core)
    else:
        plan.add(core, native_job([core], executable, [page.path], ["memory"]))


def plan_scale(plan: Plan, pages: list, quick: bool, scratch: Path) -> None:
    copies = QUICK_SCALE_COPIES if quick else SCALE_COPIES
    cores = os.cpu_count() or 1
    size, count = sum(len(page.data) for page in pages) * copies, len(pages) * copies
    ref = ("scale", "warc_links, serial")
    serial = Row("scale", ref[1], size, ref, f"{count} pages, 1 core")
    pooled = Row("scale", "warc_links, process pool", size, ref, f"{count} pages, {cores} workers")
    if importlib.util.find_spec("warcio") is None:
        for row in (serial, pooled):
            row.result = "n/a (warcio not installed: the examples extra)"
            plan.add(row)
        return
    import warc_pages

    paths = warc_pages.write_warcs(pages, copies, cores, scratch)
    plan.python(serial, warc_pages.links_serial, paths)
    plan.python(pooled, functools.partial(warc_pages.links_with_processes, workers=cores), paths)
    plan.rate(serial, count, 1)
    plan.rate(pooled, count, cores)


def measure_memory(pages: list, quick: bool, scratch: Path) -> list[Row]:
    note = "peak RSS growth, fresh interpreter"
    largest = max(pages, key=lambda page: len(page.data))
    rows = [Row("memory", f"html_parse_file, largest page ({largest.name})", len(largest.data), note=note)]
    rows[0].result = f"+{peak_rss.growth_mb(largest.path):.2f} MB"

    target = QUICK_CONCATENATED_BYTES if quick else CONCATENATED_BYTES
    path = scratch / "concatenated.html"
    written = 0
    with open(path, "wb") as out:
        while written < target:
            for page in pages:
                out.write(page.data)
                written += len(page.data)
                if written >= target:
                    break
    try:
        growth = peak_rss.growth_mb(str(path))
        fed_growth = peak_rss.growth_mb(str(path), chunk=FEED_CHUNK)
    finally:
        path.unlink()
    rows.append(
        Row("memory", "html_parse_file, pages concatenated", written, note=note, result=f"+{growth:.2f} MB")
    )
    label = "Parser, pages concatenated, fed in 64 KiB chunks"
    rows.append(Row("memory", label, written, note=note, result=f"+{fed_growth:.2f} MB"))
    return rows


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    try:
        import htmltess
    except ImportError as error:
        print(
            f"cannot import htmltess ({error}): install it (pip install .) or put a build on the path "
            "(PYTHONPATH=build/dev:python)",
            file=sys.stderr,
        )
        return 2
    peers = available_peers(install=not args.no_install)
    pages = load_pages(args.corpus, args.quick) if args.corpus.is_dir() else []
    if not pages:
        print(f"no pages in {args.corpus}: the corpus workloads are skipped", file=sys.stderr)
    selected = args.only
    needs_native = ("W3" in selected and pages) or "entities" in selected
    executable = native.build(ROOT, ROOT / "build" / "bench") if needs_native else None

    plan = Plan(peers)
    with tempfile.TemporaryDirectory(prefix="htmltess-bench-") as scratch:
        if pages:
            plan_corpus(plan, selected, pages, executable)
            if "floor" in selected:
                plan_call_floors(plan, pages)
            if "feed" in selected:
                plan_feed(plan, pages, args.quick)
            if "scale" in selected:
                plan_scale(plan, pages, args.quick, Path(scratch))
        if "entities" in selected:
            plan_entities(plan, args.quick, Path(scratch), executable)
        plan.check()
        plan.measure(args.repeats)
        if pages and "memory" in selected:
            plan.rows.extend(measure_memory(pages, args.quick, Path(scratch)))

    table = markdown_table(plan.rows)
    size = sum(len(page.data) for page in pages)
    header = [
        "# Benchmark results",
        "",
        f"`{' '.join(['python3', 'bench/run.py', *argv])}`",
        "",
        f"{len(pages)} pages ({size / 1e6:.1f} MB) from {args.corpus.name}/"
        + (" (quick: a subset of the corpus; a smoke run, not a measurement)" if args.quick else "")
        + f"; median of {args.repeats} interleaved passes per row.",
        "",
        *environment(ROOT, htmltess.__file__),
        "",
    ]
    print(table)
    args.output.write_text("\n".join(header) + "\n" + table + "\n\n" + LEGEND + "\n", encoding="utf-8")
    print(f"written to {args.output}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
