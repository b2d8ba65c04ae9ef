#!/usr/bin/env python
"""Back-to-back documents over a socket: tarvo.parse_socket_stream, which
waits with the interpreter lock released and then parses whatever has arrived,
against a byte-by-byte reader (one recv and one release and
retake of the interpreter lock per byte).

A writer thread sends --documents documents of about 1 KB, one sendall each,
as fast as it can over a fresh socketpair, then closes its end; the reader
reads them all in one loop-mode call with no-op callables registered for
every element of the grammar. Prints documents per second for both readers
(best of --repeat runs) and the ratio.

    cmake --build build --target tarvo-bench-python
    PYTHONPATH=build/bench/python/3.11 python3.11 bench/stream_bench.py
    PYTHONPATH=build/bench/python/2.7 python2.7 bench/stream_bench.py --grammar lumoCodeCoverage

Runs under Python 2.7 and Python 3.
"""
from __future__ import print_function

import argparse
import socket
import sys
import threading
import time

import tarvo
from bench_support import no_op_callbacks


def progress_return(i):
    """A remote procedure return: the progress of one process instance."""
    activities = []
    for a in range(3):
        resources = "".join(
            '\n      <UsedResource resourceIdentifier="RES-%04d-%d" quantity="%d"/>' % (i % 9973, r, r + 1)
            for r in range(a))
        activities.append(
            '\n    <ActivityProgress activityIdentifier="Task_%d_%d" activityName="Step %d of order %d"'
            ' runNumber="%d" startDate="2026-12-05T08:%02d:00" endDate="2026-12-05T09:%02d:30"'
            ' initial="%s">%s\n    </ActivityProgress>'
            % (i, a, a + 1, i, a + 1, a * 7 % 60, a * 11 % 60, "true" if a == 0 else "false", resources))
    return ('<RemoteProcedureReturn callId="%d">\n  <RemoteProcedureResult>\n'
            '   <GetInstanceProgressReturnValue>%s\n   </GetInstanceProgressReturnValue>\n'
            '  </RemoteProcedureResult>\n</RemoteProcedureReturn>\n' % (i, "".join(activities)))


def coverage_results(i):
    """Code-coverage results with character data: test case names."""
    nodes = []
    for n in range(4):
        cases = "".join("\n    <CoveringTestcase>case_%d_%d</CoveringTestcase>" % (i, c) for c in range(n % 3))
        nodes.append('\n   <CodeCoverageResultNode name="node %d.%d" type="state" symbolId="SYMB%d"'
                     ' diagramFileName="controller.ldg" minHit="%d" maxHit="%d">%s\n   </CodeCoverageResultNode>'
                     % (i, n, n, n, n + 2, cases))
    return ('<CodeCoverageResults displayMode="hits">\n  <CodeCoverageResultNode name="run %d" type="sys"'
            ' minHit="0" maxHit="9">%s\n  </CodeCoverageResultNode>\n</CodeCoverageResults>\n' % (i, "".join(nodes)))


DOCUMENTS = {"DigitalTwinAPI": progress_return, "lumoCodeCoverage": coverage_results}


def run(reader, grammar, callbacks, documents):
    """Seconds for one loop-mode call over all documents, sent by a writer thread."""
    ours, theirs = socket.socketpair()
    go = threading.Event()

    def write():
        go.wait()
        for d in documents:
            theirs.sendall(d)
        theirs.shutdown(socket.SHUT_WR)

    writer = threading.Thread(target=write)
    writer.daemon = True
    writer.start()
    try:
        began = time.time()
        go.set()
        warnings = reader(grammar, callbacks, ours, 0, 1)
        seconds = time.time() - began
        writer.join()
        if warnings or ours.recv(1):
            raise SystemExit("the documents did not read cleanly: %r" % warnings)
        return seconds
    finally:
        ours.close()
        theirs.close()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--documents", type=int, default=10000)
    p.add_argument("--grammar", choices=sorted(DOCUMENTS), default="DigitalTwinAPI")
    p.add_argument("--repeat", type=int, default=3, help="runs per reader; the best counts")
    args = p.parse_args()

    documents = [DOCUMENTS[args.grammar](i).encode("ascii") for i in range(args.documents)]
    callbacks = no_op_callbacks(args.grammar)
    size = sum(len(d) for d in documents)
    print("Python %d.%d, %s: %d documents, %.0f bytes each on average"
          % (sys.version_info[0], sys.version_info[1], args.grammar, len(documents), float(size) / len(documents)))
    rates = []
    for label, reader in [("chunked (parse_socket_stream)", tarvo.parse_socket_stream),
                          ("byte by byte", tarvo._parse_socket_stream_bytewise)]:
        best = min(run(reader, args.grammar, callbacks, documents) for _ in range(args.repeat))
        rates.append(len(documents) / best)
        print("  %-30s %10.0f documents/s  %7.2f MB/s" % (label, rates[-1], size / best / 1e6))
    print("  ratio %.1fx" % (rates[0] / rates[1]))


if __name__ == "__main__":
    main()
