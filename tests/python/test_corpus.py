"""Real web pages give the same events from bytes, from a file and from a str, text in runs or one by one."""

import contextlib

import htmltess
import pytest
from inputs import PAGES, VENDORED_PAGES
from recording import TextRecorder, tokens


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_page_gives_the_same_events_every_way(page):
    data = page.read_bytes()
    expected = tokens(data, TextRecorder())  # text in runs, so that a large page stays cheap
    from_file = TextRecorder()
    assert htmltess.html_parse_file(from_file, str(page)) is True
    assert from_file.tokens() == expected
    with contextlib.suppress(UnicodeDecodeError):
        assert tokens(data.decode("utf-8"), TextRecorder()) == expected
    if page in VENDORED_PAGES:  # the html5lib harness compares text in runs and one by one on shorter inputs
        assert tokens(data) == expected
