# Checked with mypy --strict against tarvo.pyi (CTest: python_stub_mypy);
# not run. Every call form a typed program would write.
import pathlib
import socket
from typing import Dict, List

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
    try:
        tarvo.parse("heatmap", {}, path)
    except tarvo.ParseError as error:
        messages: List[str] = error.errors + error.warnings
        warnings.extend(messages)
    return warnings + [tarvo.__version__]
