"""What a Python program sees of the bridge: sources, arguments, decoding, files, buffers, signals, leaks."""

import ctypes
import errno
import functools
import gc
import inspect
import mmap
import os
import pathlib
import pickle
import re
import signal
import subprocess
import sys
import threading
import weakref
from contextlib import nullcontext, suppress

import htmltess
import pytest
from recording import PE, Boom, C, E, OnFirstChar, Recorder, S, TextRecorder, tokens

PYPROJECT = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
parse_string = htmltess.html_parse_string
parse_file = htmltess.html_parse_file


def write(path, data):
    path.write_bytes(data)
    return path


def as_mmap(data):
    m = mmap.mmap(-1, len(data))
    m.write(data)
    return m


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"", []),
        ("h\u00e9\U0001f600\r\n".encode(), [C("h\u00e9\U0001f600\r\n")]),
        (b"a\0b", [C("a"), PE, C("\0b")]),
        (b"\xed\xa0\x80\xed\xb0\x80\xed\xbf\xbf", [C("\ud800\udc00\udfff")]),  # surrogates pass through
        (b"<p>&amp;</p>", [S("p"), C("&"), E("p")]),
        (b"\xc0\x80", [PE, C("\0")]),
        # Continuation bytes where the tokenizer reads one code point at a time.
        (b"<\x80&\x80</\x80>", [PE, C("<\ufffd&\ufffd"), PE, ("Comment", "\ufffd")]),
        # Code points a str cannot hold become U+FFFD.
        (b"\xf4\x90\x80\x80\xf7\xbf\xbf\xbf", [C("\ufffd\ufffd")]),
        (b"<a b='\xf4\x90\x80\x80'>", [S("a", {"b": "\ufffd"})]),
        # Two names that both become U+FFFD: the first keeps its value, as a real duplicate does.
        (b"<a \xf4\x90\x80\x80=1 \xf4\x90\x80\x81=2>", [S("a", {"\ufffd": "1"})]),
        # A reference candidate longer than the file buffer: the file is read again from where it began.
        (b"&" + b"a" * 300_000 + b";", [PE, C("&" + "a" * 300_000 + ";")]),
    ],
)
def test_str_bytes_buffers_and_files_give_the_same_callbacks(tmp_path, data, expected):
    sources = [data, bytearray(data), memoryview(data)] + ([as_mmap(data)] if data else [])
    with suppress(UnicodeDecodeError):
        sources.append(data.decode("utf-8", "surrogatepass"))
    for parse, source in [(parse_string, source) for source in sources] + [
        (parse_file, write(tmp_path / "doc.html", data))
    ]:
        recorder = Recorder()
        assert parse(recorder, source) is True
        assert all(len(event[1]) == 1 for event in recorder.events if event[0] == "Character")  # one per call
        assert recorder.tokens() == expected


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda h: parse_string(object(), "x"), TypeError),
        (lambda h: parse_string(htmltess.HtmlHandler, "x"), TypeError),
        (lambda h: parse_file(object(), "/nonexistent/checked/after/the/handler"), TypeError),
        (lambda h: parse_string(h), TypeError),
        (lambda h: parse_string(h, 42), TypeError),
        (lambda h: parse_string(h, ["x"]), TypeError),
        (lambda h: parse_file(h, 42), TypeError),
        (lambda h: parse_string(handler=h, text="x"), TypeError),
        (lambda h: parse_file(h, "a\0b"), ValueError),
        (lambda h: parse_string(h, memoryview(b"abcd")[::2]), BufferError),
    ],
)
def test_unusable_arguments_raise_before_any_callback(call, error):
    recorder = Recorder()
    with pytest.raises(error):
        call(recorder)
    assert recorder.events == []


def unreadable(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root can read any file")
    path = write(tmp_path / "secret.html", b"x")
    path.chmod(0)
    return path


@pytest.mark.parametrize(
    "make, error, code",
    [
        (lambda tmp_path: tmp_path / "missing.html", FileNotFoundError, errno.ENOENT),
        (lambda tmp_path: tmp_path, IsADirectoryError, errno.EISDIR),
        (lambda tmp_path: write(tmp_path / "file", b"x") / "doc.html", NotADirectoryError, errno.ENOTDIR),
        (unreadable, PermissionError, errno.EACCES),
    ],
)
def test_a_file_that_cannot_be_opened_raises_os_error_with_its_filename(tmp_path, make, error, code):
    path = str(make(tmp_path))
    recorder = Recorder()
    with pytest.raises(error) as raised:
        parse_file(recorder, path)
    assert (raised.value.errno, raised.value.filename) == (code, path)
    assert recorder.events == []


def path_like(convert):
    return lambda path: type("PathLike", (), {"__fspath__": lambda _: convert(path)})()


@pytest.mark.parametrize(
    "path_type", [str, os.fsencode, pathlib.Path, path_like(str), path_like(os.fsencode)]
)
def test_paths_may_be_str_bytes_or_path_like(tmp_path, path_type):
    recorder, path = Recorder(), path_type(write(tmp_path / "\u00e9t\u00e9.html", "caf\u00e9".encode()))
    assert parse_file(recorder, path) is True
    assert recorder.tokens() == [C("caf\u00e9")]
    missing = path_type(tmp_path / "missing.html")
    with pytest.raises(FileNotFoundError) as raised:
        parse_file(recorder, missing)
    assert raised.value.filename == missing


def test_fifos_devices_and_files_of_size_0_are_read_as_they_come(tmp_path):
    data = "<p a='&amp;'>caf\u00e9 &notin; ".encode() * 30000
    os.mkfifo(tmp_path / "fifo")
    writer = threading.Thread(target=(tmp_path / "fifo").write_bytes, args=(data,))  # waits for the reader
    writer.start()
    recorder = TextRecorder()
    assert parse_file(recorder, tmp_path / "fifo") is True
    writer.join()
    assert recorder.tokens() == tokens(data, TextRecorder())
    for path in "/dev/null", "/proc/version", "/proc/self/cmdline":  # a device; files that report size 0
        recorder, expected = Recorder(), tokens(pathlib.Path(path).read_bytes())
        assert parse_file(recorder, path) is True and recorder.tokens() == expected


def break_descriptor(path):
    """Points the descriptor this process has open on path at a write-only file, so reads fail with EBADF."""
    (fd,) = [fd for fd in os.listdir("/proc/self/fd") if os.path.realpath(f"/proc/self/fd/{fd}") == str(path)]
    with open(os.devnull, "wb") as sink:
        os.dup2(sink.fileno(), int(fd))


@pytest.mark.parametrize("shrink", [True, False])
def test_a_file_that_shrinks_ends_early_and_a_read_error_is_raised_after_the_parse(tmp_path, shrink):
    path = write(tmp_path / "doc.html", b"x" * 300_000)
    recorder = OnFirstChar(lambda _: os.truncate(path, 100_000) if shrink else break_descriptor(path))
    with nullcontext() if shrink else pytest.raises(OSError) as raised:
        parse_file(recorder, path)
    events = recorder.tokens()
    assert events == [C("x" * 100_000)] if shrink else 0 < len(events[0][1]) < 300_000
    assert shrink or (raised.value.errno, raised.value.filename) == (errno.EBADF, path)


@pytest.mark.parametrize(
    "make, mutate",
    [
        (lambda: bytearray(b"abcdef"), lambda b: b.extend(b"x")),
        (lambda: bytearray(b"abcdef"), lambda b: b.clear()),
        (lambda: as_mmap(b"abcdef"), lambda m: m.close()),
        (lambda: as_mmap(b"abcdef"), lambda m: m.resize(2)),
        (lambda: memoryview(b"abcdef"), lambda v: v.release()),
    ],
)
def test_the_buffer_is_held_for_the_whole_parse(make, mutate):
    buffer = make()
    recorder = OnFirstChar(lambda _: mutate(buffer))
    with pytest.raises(BufferError):
        parse_string(recorder, buffer)
    assert recorder.events == [C("a")]
    mutate(buffer)  # released once the parse has ended


class Silent(htmltess.HtmlHandler):
    pass


@pytest.mark.parametrize(
    "parse, make",
    [
        (parse_string, lambda tmp_path, text: text),
        (parse_file, lambda tmp_path, text: write(tmp_path / "long.html", text)),
        (parse_file, lambda tmp_path, text: os.mkfifo(tmp_path / "fifo") or tmp_path / "fifo"),  # no writer
    ],
    ids=["string", "file", "fifo"],
)
def test_a_signal_stops_a_long_parse(tmp_path, parse, make):
    text = b"<p>Some ordinary text &amp; markup.</p>\n" * 1_250_000  # 50 MB
    source = make(tmp_path, text)
    # No callback is Python code: nothing but the parse itself can run the signal handler before the end.
    handler, reached_end = Silent(), []
    handler.OnEof = functools.partial(reached_end.append, True)

    def on_alarm(signum, frame):
        raise Boom("alarm")

    previous = signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    try:
        with pytest.raises(Boom):
            parse(handler, source)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert reached_end == []


class MallInfo2(ctypes.Structure):
    _fields_ = [("counts", ctypes.c_size_t * 10)]  # the eighth, uordblks, is the bytes in use


def native_bytes_in_use():
    """Bytes handed out by malloc, C++ new included."""
    gc.collect()
    libc = ctypes.CDLL(None)
    if not hasattr(libc, "mallinfo2"):
        pytest.skip("needs glibc 2.33 or later")
    libc.mallinfo2.restype = MallInfo2
    return libc.mallinfo2().counts[7]


def test_an_idle_handler_holds_no_text_buffer():
    texts = type("Texts", (htmltess.HtmlHandler,), {"OnText": lambda self, text: None})
    handlers = [texts() for _ in range(200)]
    before = native_bytes_in_use()
    for handler in handlers:
        parse_string(handler, "x" * 100_000)
    assert native_bytes_in_use() - before < 1024 * 1024


class Misbehaving(htmltess.HtmlHandler):
    """Raises Boom on a parse error and starts a parse with itself on "b"."""

    def OnParseError(self):
        raise Boom()

    def OnChar(self, char):
        if char == "b":
            parse_string(self, "nested")


# Fresh objects: the count of a shared constant moves with whatever else holds it.
@pytest.mark.parametrize("make", ["".join, lambda t: t + "\u00e9", lambda t: bytearray(t.encode())])
@pytest.mark.parametrize("handler_type", [Silent, Misbehaving])
@pytest.mark.parametrize("document", ["ac", "a\0c", "abc"])
def test_a_parse_keeps_no_reference_and_frees_its_handler(make, handler_type, document):
    handler, text = handler_type(), make(document)
    counts = sys.getrefcount(handler), sys.getrefcount(text)
    for _ in range(100):
        with suppress(Boom, RuntimeError):  # what Misbehaving raises at "\0" and "b"
            parse_string(handler, text)
    assert (sys.getrefcount(handler), sys.getrefcount(text)) == counts
    alive = weakref.ref(handler)
    del handler
    gc.collect()
    assert alive() is None


SECOND_INIT = """
import gc, importlib.machinery, importlib.util, htmltess
subclasses = [type(f"Sub{i}", (htmltess.HtmlHandler,), {}) for i in range(10)]
loader = importlib.machinery.ExtensionFileLoader("other.htmltess", htmltess.__file__)
other = importlib.util.module_from_spec(importlib.util.spec_from_loader("other.htmltess", loader))
loader.exec_module(other)
del subclasses
gc.collect()
print(other.HtmlHandler is htmltess.HtmlHandler, other.html_parse_string(other.HtmlHandler(), "x"))
"""


def test_the_module_initialised_twice_shares_its_type():
    result = subprocess.run([sys.executable, "-c", SECOND_INIT], check=False, capture_output=True, text=True)
    assert (result.returncode, result.stdout.split()) == (0, ["True", "True"]), result.stderr


def test_everything_lives_in_htmltess_and_pickles():
    assert (htmltess.__name__, htmltess.HtmlParser) == ("htmltess", htmltess.HtmlHandler)
    assert "html_parse_string" in htmltess.__doc__
    version = re.search(r'^version = "(.*)"', PYPROJECT.read_text(), re.MULTILINE)[1]
    assert htmltess.__version__ == version
    for thing in htmltess.HtmlHandler, htmltess.html_parse_string, htmltess.html_parse_file:
        assert thing.__module__ == "htmltess" and pickle.loads(pickle.dumps(thing)) is thing
    signature = inspect.signature(htmltess.HtmlHandler.OnStartTag)
    assert list(signature.parameters) == ["self", "name", "attributes", "self_closing"]


def test_a_handler_pickles_its_dict_only():
    recorder = Recorder()
    parse_string(recorder, "<p>x")
    copy = pickle.loads(pickle.dumps(recorder))
    assert (type(copy), copy.events) == (Recorder, recorder.events)
    assert parse_string(copy, "y") is True and copy.events[-2:] == [C("y"), ("EOF",)]
    assert type(pickle.loads(pickle.dumps(htmltess.HtmlHandler()))) is htmltess.HtmlHandler


@pytest.mark.parametrize("handler_type", [htmltess.HtmlHandler, Silent])
def test_arguments_are_refused_unless_init_takes_them(handler_type):
    with pytest.raises(TypeError, match="takes no arguments"):
        handler_type(1, 2, x=3)
    type("TakesArguments", (handler_type,), {"__init__": lambda self, a, b, x: None})(1, 2, x=3)
