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

# (WARC file, record type, URL, Content-Type, body)
RECORDS = [
    (
        "a.warc",
        "response",
        "http://example.com/dir/page",
        "text/html",
        (
            b'<a href="next">n</a><area href="/map"><a href="javascript:x()">j</a><a href="mailto:a@b">m</a>'
            b'<a href=" https://other.org/x ">o</a><a name="no-href">'
        ),
    ),
    ("a.warc", "request", "http://example.com/dir/page", None, b""),
    ("a.warc", "response", "http://example.com/logo.png", "image/png", b'<a href="/not-html">'),
    (
        "a.warc",
        "response",
        "http://example.com/based",
        "text/html; charset=utf-8",
        '<base href="http://cdn.example.net/b/"><a href="caf\u00e9">c</a>'.encode(),
    ),
    (
        "b.warc.gz",
        "response",
        "http://example.org/",
        "text/html; charset=windows-1252",
        '<a href="/caf\u00e9?q=\u20ac">w</a>'.encode("cp1252"),
    ),
    (
        "b.warc.gz",
        "response",
        "http://example.org/meta",
        "text/html",
        '<meta charset="iso-8859-2"><a href="/\u0141\u00f3d\u017a">l</a>'.encode("iso-8859-2"),
    ),
]

EXPECTED = [
    "http://example.com/dir/page\thttp://example.com/dir/next",
    "http://example.com/dir/page\thttp://example.com/map",
    "http://example.com/dir/page\thttps://other.org/x",
    "http://example.com/based\thttp://cdn.example.net/b/caf\u00e9",
    "http://example.org/\thttp://example.org/caf\u00e9?q=\u20ac",
    "http://example.org/meta\thttp://example.org/\u0141\u00f3d\u017a",
]


@pytest.fixture(scope="module")
def warc_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("warc")
    paths = []
    for name in dict.fromkeys(record[0] for record in RECORDS):
        path = folder / name
        with path.open("wb") as output:
            writer = WARCWriter(output, gzip=name.endswith(".gz"))
            for _, kind, url, content_type, body in (r for r in RECORDS if r[0] == name):
                headers = None
                if kind == "response":
                    headers = StatusAndHeaders(
                        "200 OK", [("Content-Type", content_type)], protocol="HTTP/1.1"
                    )
                else:
                    headers = StatusAndHeaders(
                        "GET / HTTP/1.1", [("Host", "example.com")], is_http_request=True
                    )
                writer.write_record(
                    writer.create_warc_record(url, kind, payload=BytesIO(body), http_headers=headers)
                )
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("mode", ["serial", "processes", "dask"])
def test_every_mode_gives_the_pairs_in_file_and_record_order(warc_files, mode):
    result = subprocess.run(
        [sys.executable, EXAMPLE, "--mode", mode, "--workers", "2", *warc_files],
        capture_output=True,
        timeout=180,
        check=True,
        encoding="utf-8",
    )
    assert result.stdout.splitlines() == EXPECTED
