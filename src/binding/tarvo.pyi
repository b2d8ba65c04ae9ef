# Type stub for the tarvo extension module, as seen from Python 3. Under
# Python 2 every str below is the byte string type and paths are str.
import os
import sys
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Union

from _typeshed import ReadableBuffer, structseq

if sys.version_info >= (3, 8):
    from typing import Literal, Protocol, TypedDict, final
else:
    from typing_extensions import Literal, Protocol, TypedDict, final

__version__: str

PARSE_STRICT: int
PARSE_IGNORE_WRONG_ATTRIBUTES: int
PARSE_IGNORE_UNKNOWN_ATTRIBUTES: int
PARSE_IGNORE_WRONG_ELEMENTS: int
PARSE_XML: int

_Kind = Literal["syntax", "unknown_element", "misplaced_element", "unknown_attribute", "wrong_attribute_value",
                "missing_attribute", "text_not_allowed", "input_output", "handler_failed"]

@final
class Diagnostic(structseq[Any], Tuple[str, _Kind, Optional[int], Optional[int], Optional[str], Optional[str],
                                      Tuple[str, ...], str]):
    """One warning or error of a parse as data; message is its text."""
    @property
    def severity(self) -> Literal["error", "warning"]: ...
    @property
    def kind(self) -> _Kind: ...
    # Line (from 1) and column (in bytes from 1) where the token concerned
    # starts (the wrong value, the undeclared attribute's or the element's
    # name, the run of character data), or where the reader stood; None for
    # a message about no place (a file that could not be opened).
    @property
    def lineno(self) -> Optional[int]: ...
    @property
    def offset(self) -> Optional[int]: ...
    @property
    def element(self) -> Optional[str]: ...
    @property
    def attribute(self) -> Optional[str]: ...
    # For a misplaced element or text: the element names that could have
    # stood there; for a wrong attribute value: the allowed values.
    @property
    def expected(self) -> Tuple[str, ...]: ...
    @property
    def message(self) -> str: ...
    # The fields below go by name only: the tuple keeps the eight above.
    # The problem's stable name, for a program to branch on: "unknown-element",
    # "misplaced-element", "missing-element", "unknown-attribute",
    # "missing-attribute", "invalid-value", "text-not-allowed", "syntax",
    # "unreadable", "callback-failed", "no-grammar" (validate() without a
    # grammar, for a document that names none).
    @property
    def code(self) -> Optional[str]: ...
    # True: this record is the reader's line about where the problem of the
    # record before it happened, one problem said in two messages.
    @property
    def note(self) -> bool: ...
    # The element the concerned one stands in.
    @property
    def parent(self) -> Optional[str]: ...
    # The open elements from the root down to the concerned one, each with
    # its place among the siblings of its name: "/ToolSet/Menu[2]/Tool[1]".
    # Set by validate(); None from the parse functions.
    @property
    def path(self) -> Optional[str]: ...
    # For an unknown or misplaced name, an undeclared attribute or a value
    # outside its list: the allowed name or value closest to it.
    @property
    def suggestion(self) -> Optional[str]: ...
    # The line of the token's last byte and the column just past it.
    @property
    def end_lineno(self) -> Optional[int]: ...
    @property
    def end_offset(self) -> Optional[int]: ...

@final
class Report(structseq[Any], Tuple[bool, int, List[Diagnostic]]):
    """What validate() found about one document."""
    # True when the document is valid (status 0).
    @property
    def valid(self) -> bool: ...
    # 0 valid, 1 invalid, 2 unreadable or no grammar found.
    @property
    def status(self) -> int: ...
    # Every warning and error, in the order reported, with paths.
    @property
    def diagnostics(self) -> List[Diagnostic]: ...

@final
class GrammarChoice(structseq[Any], Tuple[Optional[str], str]):
    """The grammar detect_grammar() chose for a document, and why; a tuple of two."""
    # The grammar's name, as grammars() lists it and validate() takes it;
    # None when the document names none.
    @property
    def grammar(self) -> Optional[str]: ...
    # How it was chosen ("DOCTYPE SYSTEM 'NAME'", "root element 'NAME'"), or
    # why none was.
    @property
    def reason(self) -> str: ...

class ParseError(Exception):
    # The individual messages of the failed parse; str(error) is the errors
    # joined by newlines.
    errors: List[str]
    warnings: List[str]
    # From the first error's record: its kind and where the reader stood.
    kind: Optional[_Kind]
    lineno: Optional[int]
    offset: Optional[int]
    # The path of the document read; None for sockets and memory.
    filename: Optional[str]
    # Every message as a record, in the order reported: with max_errors
    # above 1, every problem found up to that many.
    diagnostics: List[Diagnostic]
# A file that cannot be read raises a class derived from both ParseError
# and the OSError subclass for its error number (FileNotFoundError,
# IsADirectoryError, ...), with errno, strerror and filename set; catch it as
# either.

StartCallback = Callable[[str, Dict[str, str]], Any]
TextCallback = Callable[[str, str], Any]
EndCallback = Callable[[str], Any]
# Element name -> [start, text, end] (StartCallback, TextCallback,
# EndCallback); the key "*" serves every element without an entry of its
# own. Shorter sequences are allowed, and an item that is None or not
# callable is skipped; so is a value that is not a sequence, but a bare
# callable raises TypeError naming the element. The values are Any so that a
# dictionary literal mixing such lists type-checks.
Callbacks = Dict[str, Any]

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class _Socket(Protocol):
    def fileno(self) -> int: ...

def parse(grammar: str, callbacks: Callbacks, path: _Path, flags: int = ..., max_errors: int = ...) -> str:
    """Read the document file at path against the grammar named grammar
    (built in or loaded) and call the registered callables for its elements.

    max_errors (default 1) is how many validity errors are reported before
    the parse stops, 0 for no limit; after one, reading goes on as the
    matching PARSE_* tolerance would, each problem staying an error. A
    syntax error always ends the parse.

    A regular file of 1 MiB or more is read and checked on a second thread
    while the callables are called on this one, when the machine has more
    than one core: the calls, their order and position() are the same.

    Returns the warning text ("" when there are none). Raises ParseError
    with the error text when the document is invalid or cannot be read, and
    lets an exception raised by a callable, or by a signal handler while
    the call waits for the file, through unchanged. Raises ValueError for
    an unknown grammar, for flags with bits no PARSE_* constant has and for
    a negative max_errors."""
    ...

def parse_file(grammar: str, callbacks: Callbacks, path: _Path, flags: int = ..., max_errors: int = ...) -> str:
    """The same function as parse."""
    ...

def parse_bytes(grammar: str, callbacks: Callbacks, data: ReadableBuffer, flags: int = ...,
                name: str = ..., max_errors: int = ...) -> str:
    """Read the document held in data (bytes, bytearray, memoryview, array,
    mmap or any object with a buffer interface) as parse() reads a file
    with those bytes; name (default "<bytes>") stands where a file's path stands in
    messages. A bytes object of 1 MiB or more is read ahead as parse()
    reads a large file; other buffers, whose bytes may change meanwhile,
    never are.

    Returns the warning text. Raises ParseError (its filename None) with the
    error text when the document is invalid, and lets an exception raised
    by a callable through unchanged."""
    ...

def parse_socket_stream(grammar: str, callbacks: Callbacks, sock: _Socket, flags: int = ...,
                        loop: int = ..., max_errors: int = ...) -> str:
    """Read documents sent back to back over the connected stream socket
    sock (anything with a fileno() method), each a single root element
    without XML declaration, separated by optional whitespace.

    Reads one document, or with loop non-zero (0 to 255) one document after
    another until one fails or the peer closes. Takes from the socket only
    the documents it reads and the whitespace before them: a call returns as
    soon as a root element closes, and the next document stays on the
    socket. Waits for data without holding the interpreter lock. The socket
    must be in blocking mode: a receive that fails (a timeout included)
    raises OSError.

    Returns the warnings of every document read. Raises ParseError with the
    errors of the first document that fails, and lets an exception raised
    by a callable, by a signal handler while the call waits, or by
    sock.fileno() through unchanged."""
    ...

def grammars() -> List[str]:
    """The names of the grammars, built in and loaded, in registration order."""
    ...

class _Attribute(TypedDict):
    name: str
    required: bool
    default: Optional[str]
    values: List[str]

class _Element(TypedDict):
    name: str
    index: int
    first: List[str]
    rows: List[List[str]]
    attributes: List[_Attribute]

class _GrammarInfo(TypedDict):
    name: str
    source_name: str
    system_name: str
    grammar_file: str
    roots: List[str]
    elements: List[_Element]
    text_rows: List[List[str]]

def grammar_info(name: str) -> _GrammarInfo:
    """Describe the grammar registered as name: the structure of
    'tarvo grammar NAME --format json' as plain dicts, lists and strings.
    List entries read "Name/c", "TEXT/c" or "END". Raises ValueError for an
    unknown name."""
    ...

def load_grammar(path: _Path, replace: bool = ...) -> str:
    """Read the grammar file at path, register it under the name it
    declares and return that name. A grammar loaded before under that name
    is replaced when replace is true; otherwise, and always for a built-in
    grammar, a name already taken raises ValueError naming the grammar.
    Raises ValueError with "file:line: reason" lines when the file cannot be
    read or is not a valid grammar (the grammar registered before stays)."""
    ...

def load_dtd(path: _Path, loosened: Optional[List[str]] = ..., replace: bool = ...) -> str:
    """Read the DTD at path as a grammar named after the file, register it
    as load_grammar() does and return its name. Nothing outside the file is
    read. When loosened is a list, a line is appended to it for each place
    the grammar checks more loosely than the DTD ("element NAME: reason",
    "attribute NAME of ELEMENT: reason"). Raises ValueError as
    load_grammar() does."""
    ...

def unload_grammar(name: str) -> None:
    """Take the loaded grammar registered as name out of the registry; the
    name may be loaded again. A parse already running with it finishes with
    it; its tables stay in memory until the process ends. Raises ValueError
    for a built-in grammar and for a name nothing is registered under."""
    ...

# On Python 3 a str or os.PathLike source is a path and bytes hold the
# document; on Python 2 str and unicode are paths, and the document's bytes
# come as bytearray, memoryview or another buffer.
_Source = Union[str, "os.PathLike[str]", "os.PathLike[bytes]", ReadableBuffer]

def validate(grammar: Optional[str], source: _Source, flags: int = ..., max_errors: int = ...) -> Report:
    """Check one document against the grammar named grammar and report what
    was found instead of raising: a Report with valid, status (0 valid, 1
    invalid, 2 unreadable or no grammar) and every warning and error as a
    Diagnostic with its path. max_errors as for parse(), without a limit by
    default. With grammar None, the grammar is the one the document's head
    names (see detect_grammar()); a document that names none gets status 2
    and the error "No grammar found for NAME: REASON", code "no-grammar".
    No callables are called; the read and the parse run without the
    interpreter lock. Raises only for its arguments (ValueError, TypeError)
    and for a signal handler that raised while the file was read."""
    ...

def validate_many(grammar: Optional[str], sources: Iterable[_Source], jobs: Optional[int] = ..., flags: int = ...,
                  max_errors: int = ...) -> List[Report]:
    """Check every document of sources (paths and buffers, as validate()
    takes them; grammar None: each against its own) on jobs threads (None:
    one per core) without the interpreter lock, and return one Report per
    source in their order, each equal to what validate() gives for it.
    Raises only for its arguments (ValueError, TypeError)."""
    ...

def detect_grammar(source: _Source) -> GrammarChoice:
    """The grammar a document names in its head (the part before its first
    element's name): the one whose SYSTEM name its DOCTYPE's SYSTEM literal
    is, as written or as the last segment of a path or URI, or else the one
    grammar that has its root element among its roots; every grammar
    registered is a candidate. source is a path or the document's bytes, as
    validate() takes it; only the head of a file is read, each wait without
    the interpreter lock. Returns a GrammarChoice (grammar, reason): the
    name to pass to validate() or parse(), or None, and how it was chosen or
    why none was. A file that cannot be read raises the ParseError (an
    OSError too) that parse() raises for it."""
    ...

def position() -> Tuple[int, int]:
    """Inside a callback: (line, column) of the last character the reader
    read for the event, line from 1, column in bytes from 1: a tag's '>'
    (an empty-element tag's '/' for its start), the '<' after text. Raises
    RuntimeError outside a callback."""
    ...
