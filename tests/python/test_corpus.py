"""Real web pages give the same events from bytes, from a file and from a str."""

import htmltess
import pytest
from inputs import PAGES
from recording import Recorder


def record(parse, source):
    recorder = Recorder()
    recorder.OnChar = recorder.events.append  # bare characters, so that a large page stays cheap
    assert parse(recorder, source) is True
    assert recorder.events.count(("EOF",)) == 1 and recorder.events[-1] == ("EOF",)
    return recorder.events


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_page_gives_the_same_events_from_every_source(page):
    data = page.read_bytes()
    from_bytes = record(htmltess.html_parse_string, data)
    assert record(htmltess.html_parse_file, str(page)) == from_bytes
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return
    assert record(htmltess.html_parse_string, text) == from_bytes
