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
    try:
        tarvo.parse_bytes("heatmap", {}, b"<Heatmap/>", tarvo.PARSE_STRICT, "mem", 0)
        tarvo.parse("heatmap", {}, path, max_errors=3)
        tarvo.parse_socket_stream("DigitalTwinAPI", {}, sock, max_errors=0)
    except tarvo.ParseError as error:
        codes: List[Optional[str]] = [d.code for d in error.diagnostics if not d.note]
        warnings.extend(c or "" for c in codes)
    report: tarvo.Report = tarvo.validate("heatmap", path, tarvo.PARSE_XML, max_errors=0)
    report = tarvo.validate("heatmap", str(path))
    report = tarvo.validate("heatmap", b"<Heatmap/>")
    report = tarvo.validate("heatmap", bytearray())
    report = tarvo.validate(grammar="heatmap", source=memoryview(b""))
    reports: List[tarvo.Report] = tarvo.validate_many("heatmap", [path, str(path), b"<Heatmap/>", bytearray()])
    reports = tarvo.validate_many(grammar="heatmap", sources=(s for s in [path]), jobs=None, flags=0, max_errors=1)
    report = tarvo.validate(None, path)
    reports = tarvo.validate_many(None, [path, b"<Heatmap/>"], 2)
    choice: tarvo.GrammarChoice = tarvo.detect_grammar(path)
    chosen, reason = tarvo.detect_grammar(source=bytearray(b"<Heatmap/>"))
    if choice.grammar is not None and chosen:
        report = tarvo.validate(choice.grammar, str(path))
    warnings.append(choice.reason + reason)
    report = reports[0]
    valid: bool = report.valid
    status: int = report.status
    warnings += ["%s %d" % (valid, status)] + [
        "%s %s %s" % (d.path or "", d.parent or "", d.suggestion or "") for d in report.diagnostics]
    loosened: List[str] = []
    warnings += [tarvo.load_dtd(path), tarvo.load_dtd(str(path), loosened=loosened)] + loosened
    name: str = tarvo.load_grammar(path, replace=True)
    tarvo.unload_grammar(name)
    warnings.append(tarvo.load_dtd(path, replace=True))

    def at(name: str, attributes: Dict[str, str]) -> None:
        line, column = tarvo.position()
        print(name, line + column)

    tarvo.parse("heatmap", {"*": [at]}, path)
    return warnings + [tarvo.__version__]
