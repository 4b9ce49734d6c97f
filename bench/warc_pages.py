"""The corpus packed into WARC files, for timing examples/warc_links.py on one core and on many."""

from __future__ import annotations

import sys
from io import BytesIO
from pathlib import Path

from warcio.statusandheaders import StatusAndHeaders
from warcio.warcwriter import WARCWriter

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
import warc_links

links_serial = warc_links.links_serial
links_with_processes = warc_links.links_with_processes


def write_warcs(pages: list, copies: int, files: int, folder: Path) -> list[str]:
    """Writes every page `copies` times as an HTTP response, dealt round-robin into `files` gzipped WARC
    files in `folder`; returns their paths."""
    paths = [folder / f"corpus-{i}.warc.gz" for i in range(files)]
    for i, path in enumerate(paths):
        with path.open("wb") as output:
            writer = WARCWriter(output, gzip=True)
            for copy in range(copies):
                for page in pages[i::files]:
                    headers = StatusAndHeaders("200 OK", [("Content-Type", "text/html")], protocol="HTTP/1.1")
                    record = writer.create_warc_record(
                        f"http://{Path(page.name).stem}/{copy}",
                        "response",
                        payload=BytesIO(page.data),
                        http_headers=headers,
                    )
                    writer.write_record(record)
    return [str(path) for path in paths]
