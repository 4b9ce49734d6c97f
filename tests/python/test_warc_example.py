"""examples/warc_links.py gives the same pairs serially, in a process pool and on a Dask cluster."""

import subprocess
import sys
from io import BytesIO
from pathlib import Path

import pytest

pytest.importorskip("warcio")
pytest.importorskip("distributed")
from warcio.statusandheaders import StatusAndHeaders
from warcio.warcwriter import WARCWriter

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "warc_links.py"
PAGE = "http://example.com/dir/page"
LINKS = '<a href="next"><area href="/map"><a href="javascript:x()"><a href="mailto:a@b"><a href=" https://o.org/x ">'
# WARC file -> its records: (URL, Content-Type or None for a request, body)
RECORDS = {
    "a.warc": [
        (PAGE, "text/html", LINKS.encode() + b'<a name="no-href">'),
        (PAGE, None, b""),
        ("http://example.com/logo.png", "image/png", b'<a href="/not-html">'),
        (
            "http://example.com/based",
            "text/html; charset=utf-8",
            '<base href="/b/"><a href="caf\u00e9">'.encode(),
        ),
    ],
    "b.warc.gz": [
        ("http://example.org/", "text/html; charset=windows-1252", '<a href="/\u20ac">'.encode("cp1252")),
        (
            "http://example.org/m",
            "text/html",
            '<meta charset="iso-8859-2"><a href="/\u0141">'.encode("iso-8859-2"),
        ),
    ],
}
EXPECTED = [
    f"{PAGE}\thttp://example.com/dir/next",
    f"{PAGE}\thttp://example.com/map",
    f"{PAGE}\thttps://o.org/x",
    "http://example.com/based\thttp://example.com/b/caf\u00e9",
    "http://example.org/\thttp://example.org/\u20ac",
    "http://example.org/m\thttp://example.org/\u0141",
]


@pytest.fixture(scope="module")
def warc_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("warc")
    for name, records in RECORDS.items():
        with (folder / name).open("wb") as output:
            writer = WARCWriter(output, gzip=name.endswith(".gz"))
            for url, content_type, body in records:
                if content_type:
                    kind, headers = "response", StatusAndHeaders("200 OK", [("Content-Type", content_type)])
                else:
                    kind, headers = "request", StatusAndHeaders("GET / HTTP/1.1", [], is_http_request=True)
                writer.write_record(writer.create_warc_record(url, kind, BytesIO(body), http_headers=headers))
    return [str(folder / name) for name in RECORDS]


@pytest.mark.parametrize("mode", ["serial", "processes", "dask"])
def test_every_mode_gives_the_pairs_in_file_and_record_order(warc_files, mode):
    command = [sys.executable, EXAMPLE, "--mode", mode, "--workers", "2", *warc_files]
    result = subprocess.run(command, capture_output=True, timeout=180, check=True, encoding="utf-8")
    assert result.stdout.splitlines() == EXPECTED
