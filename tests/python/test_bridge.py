"""What a Python program sees of the bridge: arguments, errors, exceptions, re-entrancy, buffers, signals."""

import ctypes
import errno
import functools
import gc
import mmap
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import threading
import weakref

import htmltess
import pytest
from recording import Recorder, merge_characters, tokens

parse_string = htmltess.html_parse_string
parse_file = htmltess.html_parse_file


class Boom(Exception):
    pass


def write(path, data):
    path.write_bytes(data)
    return path


# Decoding --------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"\x80a", [("Character", "\ufffda")]),
        (b"\xbf", [("Character", "\ufffd")]),
        (b"a\xf8b", [("Character", "a\ufffdb")]),
        (b"\xff", [("Character", "\ufffd")]),
        (b"a\xc3", [("Character", "a\ufffd")]),
        (b"\xe2\x82", [("Character", "\ufffd")]),
        (b"\xf0\x9f\x98", [("Character", "\ufffd")]),
        (b"\xf4\x90\x80\x80", [("Character", "\ufffd")]),
        (b"\xf7\xbf\xbf\xbf", [("Character", "\ufffd")]),
        (b"\xed\xa0\x80\xed\xbf\xbf", [("Character", "\ud800\udfff")]),
        (b"\xc3\x3cb", [("Character", "\u00fcb")]),
        (b"\xc0\x80", [("ParseError",), ("Character", "\0")]),
        (b"\xef\xbb\xbfa\r\n", [("Character", "\ufeffa\r\n")]),
    ],
)
def test_decoding(data, expected):
    assert tokens(data) == expected


DOCUMENTS = ["", "plain", "h\u00e9llo \u20ac \U0001f600", "a\0b\r\n", "\ud800\udc00\udfff", "<p>&amp;</p>"]


def as_mmap(data):
    if not data:
        pytest.skip("an mmap cannot be empty")
    m = mmap.mmap(-1, len(data))
    m.write(data)
    return m


@pytest.mark.parametrize("document", DOCUMENTS)
@pytest.mark.parametrize("convert", [bytes, bytearray, memoryview, as_mmap])
def test_str_and_any_bytes_like_give_the_same_callbacks(document, convert):
    expected = Recorder()
    parse_string(expected, document)
    recorder = Recorder()
    parse_string(recorder, convert(document.encode("utf-8", "surrogatepass")))
    assert recorder.events == expected.events


@pytest.mark.parametrize("document", DOCUMENTS)
def test_file_gives_the_same_callbacks_as_a_string(tmp_path, document):
    expected = Recorder()
    parse_string(expected, document)
    recorder = Recorder()
    assert (
        parse_file(recorder, write(tmp_path / "doc.html", document.encode("utf-8", "surrogatepass"))) is True
    )
    assert recorder.events == expected.events


# Arguments -------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call",
    [
        lambda h: parse_string(object(), "x"),
        lambda h: parse_string(None, "x"),
        lambda h: parse_string(htmltess.HtmlHandler, "x"),
        lambda h: parse_file(object(), "/nonexistent/checked/after/the/handler"),
        lambda h: parse_string(h),
        lambda h: parse_string(h, "x", "y"),
        lambda h: parse_string(h, 42),
        lambda h: parse_string(h, ["x"]),
        lambda h: parse_file(h, 42),
        lambda h: parse_string(handler=h, text="x"),
        lambda h: parse_file(h, path="x"),
    ],
)
def test_wrong_arguments_raise_type_error_before_any_callback(call):
    recorder = Recorder()
    with pytest.raises(TypeError):
        call(recorder)
    assert recorder.events == []


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda h: parse_file(h, "a\0b"), ValueError),
        (lambda h: parse_string(h, memoryview(b"abcd")[::2]), BufferError),
    ],
)
def test_unusable_arguments_raise_before_any_callback(call, error):
    recorder = Recorder()
    with pytest.raises(error):
        call(recorder)
    assert recorder.events == []


# Exceptions from callbacks ---------------------------------------------------------------------------


class RaisingEvents(list):
    """A Recorder's event list that raises `error` when the n-th event of `kind` is recorded."""

    def __init__(self, kind, n, error):
        super().__init__()
        self.kind, self.left, self.error = kind, n, error

    def append(self, event):
        super().append(event)
        if event[0] == self.kind:
            self.left -= 1
            if self.left == 0:
                raise self.error


def raising_recorder(kind, n, error):
    recorder = Recorder()
    recorder.events = RaisingEvents(kind, n, error)
    return recorder


@pytest.mark.parametrize("error", [Boom("x"), KeyboardInterrupt(), SystemExit(3)])
@pytest.mark.parametrize(
    "kind, n, document, events_before",
    [
        ("Character", 1, "ab", [("Character", "a")]),
        ("Character", 3, "abcdef", [("Character", "abc")]),
        ("ParseError", 1, "a\0b", [("Character", "a"), ("ParseError",)]),
        ("EOF", 1, "ab", [("Character", "ab"), ("EOF",)]),
    ],
)
@pytest.mark.parametrize("via_file", [False, True])
def test_exception_ends_the_parse_and_the_handler_stays_usable(
    tmp_path, via_file, kind, n, document, events_before, error
):
    recorder = raising_recorder(kind, n, error)
    path = write(tmp_path / "doc.html", document.encode())

    def run():
        return parse_file(recorder, path) if via_file else parse_string(recorder, document)

    with pytest.raises(type(error)) as raised:
        run()
    assert raised.value is error
    assert merge_characters(recorder.events) == events_before
    recorder.events = []
    assert run() is True
    assert recorder.tokens() == tokens(document)


# Files -----------------------------------------------------------------------------------------------


def missing(tmp_path):
    return tmp_path / "missing.html"


def directory(tmp_path):
    return tmp_path


def under_a_file(tmp_path):
    return write(tmp_path / "file", b"x") / "doc.html"


def fifo(tmp_path):
    os.mkfifo(tmp_path / "fifo")
    return tmp_path / "fifo"


def unreadable(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root can read any file")
    path = write(tmp_path / "secret.html", b"x")
    path.chmod(0)
    return path


@pytest.mark.parametrize(
    "make, error, code",
    [
        (missing, FileNotFoundError, errno.ENOENT),
        (directory, IsADirectoryError, errno.EISDIR),
        (under_a_file, NotADirectoryError, errno.ENOTDIR),
        (unreadable, PermissionError, errno.EACCES),
        (fifo, OSError, errno.ESPIPE),
        (lambda tmp_path: pathlib.Path("/dev/null"), OSError, errno.ESPIPE),
    ],
)
@pytest.mark.parametrize("path_type", [str, bytes, pathlib.Path])
def test_a_file_that_cannot_be_opened_raises_os_error_with_its_filename(
    tmp_path, make, error, code, path_type
):
    path = make(tmp_path)
    path = os.fsencode(path) if path_type is bytes else path_type(path)
    recorder = Recorder()
    with pytest.raises(error) as raised:
        parse_file(recorder, path)
    assert raised.value.errno == code
    assert raised.value.filename == path
    assert recorder.events == []


def test_a_non_regular_file_is_refused_with_a_clear_message(tmp_path):
    with pytest.raises(OSError, match="Not a regular file"):
        parse_file(Recorder(), fifo(tmp_path))


class FsPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize(
    "path_type", [str, bytes, pathlib.Path, lambda p: FsPath(str(p)), lambda p: FsPath(os.fsencode(p))]
)
def test_paths_may_be_str_bytes_or_path_like(tmp_path, path_type):
    path = write(tmp_path / "\u00e9t\u00e9.html", "caf\u00e9".encode())
    path = os.fsencode(path) if path_type is bytes else path_type(path)
    recorder = Recorder()
    assert parse_file(recorder, path) is True
    assert recorder.tokens() == [("Character", "caf\u00e9")]


class Counter(htmltess.HtmlHandler):
    def __init__(self, on_first_char=None):
        self.chars = 0
        self.eofs = 0
        self.on_first_char = on_first_char

    def OnChar(self, char):
        self.chars += 1
        if self.chars == 1 and self.on_first_char:
            self.on_first_char()

    def OnEof(self):
        self.eofs += 1


def open_descriptor(path):
    """The descriptor this process has open on path."""
    for fd in os.listdir("/proc/self/fd"):
        try:
            if os.readlink(f"/proc/self/fd/{fd}") == str(path):
                return int(fd)
        except OSError:
            pass
    raise AssertionError(f"{path} is not open")


def test_a_file_that_shrinks_while_read_ends_early(tmp_path):
    path = write(tmp_path / "doc.html", b"x" * 300_000)
    counter = Counter(lambda: os.truncate(path, 100_000))
    assert parse_file(counter, path) is True
    assert (counter.chars, counter.eofs) == (100_000, 1)


def test_a_read_error_is_raised_after_the_parse_ends(tmp_path):
    path = write(tmp_path / "doc.html", b"x" * 300_000)

    def break_the_descriptor():
        # Reads from a descriptor open only for writing fail with EBADF.
        with open(os.devnull, "wb") as sink:
            os.dup2(sink.fileno(), open_descriptor(path))

    counter = Counter(break_the_descriptor)
    with pytest.raises(OSError) as raised:
        parse_file(counter, path)
    assert raised.value.errno == errno.EBADF
    assert raised.value.filename == path
    assert counter.eofs == 1
    assert 0 < counter.chars < 300_000


def test_a_file_is_not_read_into_memory(tmp_path):
    path = write(tmp_path / "big.html", b"<p>text &amp; more</p>\n" * 3_000_000)  # 69 MB
    script = textwrap.dedent(
        f"""
        import resource, htmltess
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        htmltess.html_parse_file(htmltess.HtmlHandler(), {str(path)!r})
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
        """
    )
    grown_kib = int(subprocess.run([sys.executable, "-c", script], check=True, capture_output=True).stdout)
    assert grown_kib < 16 * 1024


# Buffers ---------------------------------------------------------------------------------------------


def make_bytearray():
    return bytearray(b"abcdef")


def make_mmap():
    return as_mmap(b"abcdef")


@pytest.mark.parametrize(
    "make, mutate",
    [
        (make_bytearray, lambda b: b.extend(b"x")),
        (make_bytearray, lambda b: b.clear()),
        (make_bytearray, lambda b: b.__delitem__(slice(0, 3))),
        (make_mmap, lambda m: m.close()),
        (make_mmap, lambda m: m.resize(2)),
        (lambda: memoryview(b"abcdef"), lambda v: v.release()),
    ],
)
def test_the_buffer_is_held_for_the_whole_parse(make, mutate):
    buffer = make()
    counter = Counter(lambda: mutate(buffer))
    with pytest.raises(BufferError):
        parse_string(counter, buffer)
    assert counter.chars == 1
    mutate(buffer)  # released once the parse has ended


def test_a_closed_mmap_cannot_be_parsed():
    m = make_mmap()
    m.close()
    with pytest.raises(ValueError):
        parse_string(Recorder(), m)


# Re-entrancy -----------------------------------------------------------------------------------------


class Nesting(Recorder):
    """Records like Recorder and runs `inner(self)` from the first OnChar."""

    def __init__(self, inner):
        super().__init__()
        self.inner = inner

    def OnChar(self, char):
        super().OnChar(char)
        inner, self.inner = self.inner, None
        if inner:
            inner(self)


def in_thread(call):
    def run(handler):
        errors = []

        def target():
            try:
                call(handler)
            except RuntimeError as error:
                errors.append(error)

        thread = threading.Thread(target=target)
        thread.start()
        thread.join()
        if errors:
            raise errors[0]

    return run


@pytest.mark.parametrize(
    "inner",
    [
        lambda h: parse_string(h, "x"),
        lambda h: parse_file(h, "/the/path/is/not/opened"),
        in_thread(lambda h: parse_string(h, "x")),
    ],
)
def test_a_handler_that_is_parsing_cannot_start_another_parse(inner):
    handler = Nesting(inner)
    with pytest.raises(RuntimeError, match="already parsing"):
        parse_string(handler, "ab")
    assert handler.events == [("Character", "a")]
    handler.events.clear()
    assert parse_string(handler, "ab") is True
    assert handler.tokens() == [("Character", "ab")]


def test_another_handler_may_parse_from_a_callback():
    inner = Recorder()
    outer = Nesting(lambda h: parse_string(inner, "xy"))
    assert parse_string(outer, "ab") is True
    assert outer.tokens() == [("Character", "ab")]
    assert inner.tokens() == [("Character", "xy")]


NESTING = """
import functools, sys, threading, htmltess
sys.setrecursionlimit({limit})
threading.stack_size({stack})

class Deeper(htmltess.HtmlHandler):
    def OnChar(self, char):
        htmltess.html_parse_string(Deeper(), "x")

class Handler(htmltess.HtmlHandler):
    pass

def native_chain(length):
    # Each parse's OnEof starts the next parse without any Python frame between.
    first = handler = Handler()
    for _ in range(length):
        handler.OnEof = functools.partial(htmltess.html_parse_string, Handler(), "")
        handler = handler.OnEof.args[0]
    return first

def run():
    for start in (lambda: htmltess.html_parse_string(Deeper(), "x"),
                  lambda: htmltess.html_parse_string(native_chain(100_000), "")):
        try:
            start()
        except RecursionError as error:
            print("limit" if "maximum recursion depth" in str(error) else "stack")
    print(htmltess.html_parse_string(htmltess.HtmlHandler(), "x"))

thread = threading.Thread(target=run)
thread.start()
thread.join()
"""


@pytest.mark.parametrize(
    "limit, stack, ended_by",
    [
        (1000, 0, "limit"),
        (1_000_000, 0, "stack"),
        (1000, 256 * 1024, "stack"),
        (1_000_000, 1024 * 1024, "stack"),
    ],
)
def test_deep_nesting_ends_in_recursion_error(limit, stack, ended_by):
    result = subprocess.run(
        [sys.executable, "-c", NESTING.format(limit=limit, stack=stack)],
        check=False,
        capture_output=True,
        text=True,
    )
    assert (result.returncode, result.stdout.split()) == (0, [ended_by, ended_by, "True"]), result.stderr


# Signals ---------------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def long_text():
    return b"<p>Some ordinary text &amp; markup.</p>\n" * 1_250_000  # 50 MB


def alarm_raising(seconds):
    def handler(signum, frame):
        raise Boom("alarm")

    previous = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    return lambda: (signal.setitimer(signal.ITIMER_REAL, 0), signal.signal(signal.SIGALRM, previous))


def interrupt_from_thread(seconds):
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer.cancel


class Silent(htmltess.HtmlHandler):
    pass


@pytest.mark.parametrize("start, error", [(alarm_raising, Boom), (interrupt_from_thread, KeyboardInterrupt)])
@pytest.mark.parametrize("via_file", [False, True])
def test_a_signal_stops_a_long_parse(tmp_path, long_text, via_file, start, error):
    source = write(tmp_path / "long.html", long_text) if via_file else long_text
    parse = parse_file if via_file else parse_string
    # No callback is Python code, so nothing but the parse itself can run the
    # signal handler before the end of the document.
    handler = Silent()
    reached_end = []
    handler.OnEof = functools.partial(reached_end.append, True)
    stop = start(0.05)
    try:
        with pytest.raises(error):
            parse(handler, source)
    finally:
        stop()
    assert reached_end == []


# Leaks -----------------------------------------------------------------------------------------------


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in [
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        ]
    ]


def native_heap_bytes():
    """Bytes handed out by malloc (C++ new included) and not yet freed."""
    libc = ctypes.CDLL(None)
    if not hasattr(libc, "mallinfo2"):
        pytest.skip("needs glibc 2.33 or later")
    libc.mallinfo2.restype = MallInfo2
    return libc.mallinfo2().uordblks


def footprint():
    gc.collect()
    return resident_bytes(), native_heap_bytes(), sys.getallocatedblocks()


SMALL_DOCUMENT = '<p class=x>t\u00e9\U0001f600</p><a b="c\0">'
LONG_TOKEN = '<a b="' + "v" * 5000 + '\0">'


def parse_many(path):
    for _ in range(5000):
        parse_string(Recorder(), SMALL_DOCUMENT)
        parse_string(htmltess.HtmlHandler(), SMALL_DOCUMENT.encode())
        with pytest.raises(Boom):
            parse_string(raising_recorder("ParseError", 1, Boom()), SMALL_DOCUMENT)
    for _ in range(50):
        parse_file(htmltess.HtmlHandler(), path)
        with pytest.raises(Boom):
            parse_string(raising_recorder("ParseError", 1, Boom()), LONG_TOKEN)


def test_thousands_of_parses_do_not_grow_the_process(tmp_path):
    path = write(tmp_path / "doc.html", (SMALL_DOCUMENT + LONG_TOKEN).encode())
    parse_many(path)  # fills the interpreter's caches and free lists
    before = footprint()
    parse_many(path)
    rss, native, python_blocks = (after - start for after, start in zip(footprint(), before))
    assert rss < 8 * 1024 * 1024
    assert native < 64 * 1024
    assert python_blocks < 100


class SelfNesting(htmltess.HtmlHandler):
    """Raises Boom on a parse error and starts a parse with itself on "b"."""

    def OnParseError(self):
        raise Boom()

    def OnChar(self, char):
        if char == "b":
            parse_string(self, "nested")


@pytest.mark.parametrize(
    "document, error", [("ac", None), (b"ac", None), ("a\0c", Boom), ("abc", RuntimeError)]
)
def test_a_handler_is_freed_after_its_parses(document, error):
    handler = SelfNesting()
    alive = weakref.ref(handler)
    if error:
        with pytest.raises(error):
            parse_string(handler, document)
    else:
        parse_string(handler, document)
    del handler
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize("text", ["abc", "\u00e9t\u00e9", b"abc", bytearray(b"abc")])
def test_a_parse_keeps_no_reference(text):
    handler = htmltess.HtmlHandler()
    counts = sys.getrefcount(handler), sys.getrefcount(text)
    for _ in range(100):
        parse_string(handler, text)
    assert (sys.getrefcount(handler), sys.getrefcount(text)) == counts
