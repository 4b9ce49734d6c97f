"""Extract (page URL, link) pairs from WARC files, on one core or many.

    python examples/warc_links.py [--mode serial|processes|dask] [--workers N] FILE.warc[.gz] ...

prints one tab-separated line per link, in the order of the files and of the
records in them, whatever the mode. `extract_links` is the unit of work: one
WARC file in, its pairs out. It needs nothing but its argument, so the same
function runs serially, in a process pool, as a Dask task or inside Spark's
`mapPartitions`:

    pairs = sc.parallelize(paths, len(paths)).mapPartitions(
        lambda paths: (pair for path in paths for pair in extract_links(path)))

Needs the `examples` extra: pip install "htmltess[examples]".
"""

from __future__ import annotations

import argparse
import codecs
import re
import sys
from collections.abc import Iterable
from concurrent.futures import ProcessPoolExecutor
from urllib.parse import urljoin, urlsplit

import htmltess
from warcio.archiveiterator import ArchiveIterator

# How far into a page a <meta> charset declaration is looked for, as browsers do.
SNIFF_BYTES = 1024
META_CHARSET = re.compile(rb"""<meta[^>]+charset\s*=\s*["']?\s*([A-Za-z0-9_.:-]+)""", re.IGNORECASE)
HEADER_CHARSET = re.compile(r"charset\s*=\s*[\"']?([A-Za-z0-9_.:-]+)", re.IGNORECASE)


class LinkCollector(htmltess.HtmlHandler):
    """Collects the absolute http(s) targets of <a href> and <area href>, resolved against
    the page URL or the document's first <base href>."""

    def __init__(self, page_url: str) -> None:
        self.base = page_url
        self.base_seen = False
        self.links: list[str] = []

    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool) -> None:
        href = attributes.get("href")
        if href is None:
            return
        if name == "base" and not self.base_seen:
            self.base = urljoin(self.base, href.strip())
            self.base_seen = True
        elif name in ("a", "area"):
            link = urljoin(self.base, href.strip())
            if urlsplit(link).scheme in ("http", "https"):
                self.links.append(link)


def declared_charset(content_type: str | None, body: bytes) -> str:
    """The codec name a page declares (HTTP header first, then <meta>); UTF-8 when it
    declares none or one Python does not know."""
    found = HEADER_CHARSET.search(content_type or "")
    label = found.group(1) if found else None
    if label is None:
        meta = META_CHARSET.search(body[:SNIFF_BYTES])
        label = meta.group(1).decode("ascii") if meta else None
    try:
        return codecs.lookup(label).name if label else "utf-8"
    except LookupError:
        return "utf-8"


def page_links(url: str, content_type: str | None, body: bytes) -> list[str]:
    """The links of one page. UTF-8 bytes go to the tokenizer as they are; a page in
    another charset is decoded to str first."""
    collector = LinkCollector(url)
    charset = declared_charset(content_type, body)
    document = body if charset == "utf-8" else body.decode(charset, errors="replace")
    htmltess.html_parse_string(collector, document)
    return collector.links


def extract_links(path: str) -> list[tuple[str, str]]:
    """(page URL, link) for every link of every HTML response in one WARC file."""
    pairs = []
    with open(path, "rb") as stream:
        for record in ArchiveIterator(stream):
            if record.rec_type != "response" or record.http_headers is None:
                continue
            content_type = record.http_headers.get_header("Content-Type")
            if not content_type or "html" not in content_type.lower():
                continue
            url = record.rec_headers.get_header("WARC-Target-URI")
            pairs.extend(
                (url, link) for link in page_links(url, content_type, record.content_stream().read())
            )
    return pairs


def links_serial(paths: Iterable[str]) -> list[tuple[str, str]]:
    return [pair for path in paths for pair in extract_links(path)]


def links_with_processes(paths: Iterable[str], workers: int) -> list[tuple[str, str]]:
    with ProcessPoolExecutor(max_workers=workers) as pool:
        return [pair for pairs in pool.map(extract_links, paths) for pair in pairs]


def links_with_dask(paths: Iterable[str], workers: int) -> list[tuple[str, str]]:
    """One task per WARC file on a local Dask cluster of `workers` processes."""
    import dask.bag
    from distributed import Client, LocalCluster

    paths = list(paths)
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    with cluster, Client(cluster):
        bag = dask.bag.from_sequence(paths, npartitions=max(1, len(paths)))
        return bag.map(extract_links).flatten().compute()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Print the (page URL, link) pairs of WARC files.")
    parser.add_argument("files", nargs="+", metavar="FILE", help="WARC files (.warc or .warc.gz)")
    parser.add_argument("--mode", choices=("serial", "processes", "dask"), default="serial")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    args = parser.parse_args(argv)
    if args.mode == "serial":
        pairs = links_serial(args.files)
    elif args.mode == "processes":
        pairs = links_with_processes(args.files, args.workers)
    else:
        pairs = links_with_dask(args.files, args.workers)
    sys.stdout.writelines(f"{page}\t{link}\n" for page, link in pairs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
