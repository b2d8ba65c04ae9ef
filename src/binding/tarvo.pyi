# Type stub for the tarvo extension module, as seen from Python 3. Under
# Python 2 every str below is the byte string type and paths are str.
import os
from typing import Any, Callable, Dict, List, Optional, Sequence, Union

PARSE_STRICT: int
PARSE_IGNORE_WRONG_ATTRIBUTES: int
PARSE_IGNORE_UNKNOWN_ATTRIBUTES: int
PARSE_IGNORE_WRONG_ELEMENTS: int

class ParseError(Exception):
    # The individual messages of the failed parse; str(error) is the errors
    # joined by newlines.
    errors: List[str]
    warnings: List[str]

StartCallback = Callable[[str, Dict[str, str]], Any]
TextCallback = Callable[[str, str], Any]
EndCallback = Callable[[str], Any]
# Element name -> [start, text, end]. Shorter sequences are allowed, and an
# item that is None or not callable is skipped; so is a value that is not a
# sequence.
Callbacks = Dict[str, Sequence[Optional[Callable[..., Any]]]]

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

def parse(grammar: str, callbacks: Callbacks, path: _Path, flags: int) -> str:
    """Reads the document file at `path` against the built-in grammar named
    `grammar` and calls the registered callables for its elements.

    Returns the warning text ("" when there are none). Raises ParseError
    with the error text when the document is invalid or cannot be read, and
    lets an exception raised by a callable through unchanged."""
    ...

def parse_file(grammar: str, callbacks: Callbacks, path: _Path, flags: int) -> str:
    """The same function as parse."""
    ...
