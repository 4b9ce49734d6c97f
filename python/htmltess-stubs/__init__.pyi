"""An exact WHATWG HTML tokenizer reporting every token to a handler object."""

from types import TracebackType
from typing import Literal

from _typeshed import ReadableBuffer, StrOrBytesPath
from typing_extensions import Self, TypeAlias

__version__: str

_ContentModel: TypeAlias = Literal["none", "browser"]
_InitialState: TypeAlias = Literal[
    "Data state",
    "RCDATA state",
    "RAWTEXT state",
    "Script data state",
    "PLAINTEXT state",
    "CDATA section state",
]

class HtmlHandler:
    """HTML handler objects.

    Subclass and override the callbacks of interest; the others do nothing.
    Callbacks are called positionally, so their parameters may have any names.
    """

    def OnParseError(self) -> None: ...
    def OnDoctype(self, name: str | None, public_id: str | None, system_id: str | None, /) -> None: ...
    def OnStartTag(self, name: str, attributes: dict[str, str], self_closing: bool, /) -> None: ...
    def OnEndTag(self, name: str, /) -> None: ...
    def OnComment(self, text: str, /) -> None: ...
    def OnChar(self, char: str, /) -> None: ...
    def OnEof(self) -> None: ...
    def OnText(self, text: str, /) -> None:
        """Extension: when overridden, runs of characters arrive here instead of OnChar."""
    def OnError(self, code: str, line: int, column: int, /) -> None:
        """Extension: when overridden, parse errors arrive here, with their code and position, instead of OnParseError."""

    def set_content_model(self, name: Literal["data", "rcdata", "rawtext", "script", "plaintext"], /) -> None:
        """From OnStartTag: how the text after this start tag is tokenized."""

    def span(self) -> tuple[int, int]:
        """From a callback: (start, end) of the current token's source, in bytes, or indexes into a str."""

    def position(self) -> tuple[int, int]:
        """From a callback: (line, column) of the start of the current token's source."""

    def allow_cdata(self, allow: bool, /) -> None:
        """From any callback: whether "<![CDATA[" opens a CDATA section from now on."""

HtmlParser = HtmlHandler

class Parser:
    """An HTML document fed in pieces: feed() each piece as it arrives, then close().

    The handler's callbacks are those of html_parse_string over the whole document,
    made as soon as the pieces fed so far determine them; text may come in more OnText runs.
    """

    def __init__(
        self,
        handler: HtmlHandler,
        /,
        *,
        content_model: _ContentModel = "none",
        scripting: bool = True,
        initial_state: _InitialState | None = None,
        last_start_tag: str | None = None,
    ) -> None: ...
    def feed(self, data: str | ReadableBuffer, /) -> None:
        """One piece: str, or UTF-8 bytes-like; the same kind on every call."""
    def close(self) -> Literal[True]:
        """Ends the document: the pending tokens, then OnEof."""
    def __enter__(self) -> Self: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        traceback: TracebackType | None,
        /,
    ) -> Literal[False]: ...

def html_parse_string(
    handler: HtmlHandler,
    text: str | ReadableBuffer,
    /,
    *,
    content_model: _ContentModel = "none",
    scripting: bool = True,
    initial_state: _InitialState | None = None,
    last_start_tag: str | None = None,
) -> Literal[True]: ...
def html_parse_file(
    handler: HtmlHandler,
    path: StrOrBytesPath,
    /,
    *,
    content_model: _ContentModel = "none",
    scripting: bool = True,
    initial_state: _InitialState | None = None,
    last_start_tag: str | None = None,
) -> Literal[True]: ...
