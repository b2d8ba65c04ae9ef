# Checked with mypy --strict against tarvo.pyi (CTest: python_stub_mypy);
# not run. Every call form a typed program would write.
import pathlib
import socket
from typing import Dict, List, Optional, Tuple

import tarvo


def start(name: str, attributes: Dict[str, str]) -> None:
    print(name, sorted(attributes.items()))


def end(name: str) -> None:
    print("end", name)


def read(path: pathlib.Path, sock: socket.socket) -> List[str]:
    callbacks: tarvo.Callbacks = {"Heatmap": [start], "Element": [start, None, end]}
    warnings = [
        tarvo.parse("heatmap", callbacks, str(path), tarvo.PARSE_STRICT),
        tarvo.parse_file(grammar="heatmap", callbacks={}, path=path),
        tarvo.parse("heatmap", {}, bytes(path), flags=tarvo.PARSE_IGNORE_WRONG_ATTRIBUTES | tarvo.PARSE_STRICT),
        tarvo.parse_socket_stream("DigitalTwinAPI", {}, sock),
        tarvo.parse_socket_stream("DigitalTwinAPI", callbacks, sock, tarvo.PARSE_IGNORE_WRONG_ELEMENTS, 1),
        tarvo.parse_socket_stream(grammar="DigitalTwinAPI", callbacks={}, sock=sock, loop=True),
    ]
    warnings += [tarvo.parse_bytes("heatmap", {"*": [start, None, end]}, b"<Heatmap/>"),
                 tarvo.parse_bytes("heatmap", {}, bytearray(), tarvo.PARSE_STRICT, "mem"),
                 tarvo.parse_bytes(grammar="heatmap", callbacks={}, data=memoryview(b""), name="mem")]
    try:
        tarvo.parse("heatmap", {}, path)
    except FileNotFoundError as missing:
        warnings.append(str(missing.filename))
    except tarvo.ParseError as error:
        messages: List[str] = error.errors + error.warnings
        warnings.extend(messages)
        where: Tuple[Optional[str], Optional[int], Optional[int]] = (error.filename, error.lineno, error.offset)
        if error.kind == "missing_attribute":
            warnings.append(str(where))
        for d in error.diagnostics:
            expected: Tuple[str, ...] = d.expected
            warnings.append("%s %s %s:%s %s %s %s" % (d.severity, d.kind, d.lineno, d.offset, d.element or "",
                                                      d.attribute or "", ", ".join(expected)))
            assert isinstance(d, tarvo.Diagnostic) and d.message == d[-1]
    return warnings + [tarvo.__version__]
