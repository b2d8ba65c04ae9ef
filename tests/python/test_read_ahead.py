# Documents large enough to be read ahead on a second thread (a regular file,
# a bytes object) give the same calls, positions, results and exceptions as
# the same bytes read directly (a bytearray, whose bytes may change meanwhile
# and so are never read ahead).
import os
import signal
import sys
import threading
import unittest

import tarvo
from tarvo_support import DocumentTestCase, Interrupted, Recorder, on_alarm, outcome

ELEMENTS = ("CodeCoverageResults", "CodeCoverageResultNode", "CoveringTestcase")


def coverage(nodes, bad_every=0):
    """A coverage document of well over the read-ahead size; every
    `bad_every` nodes one value is outside its list."""
    parts = [b'<?xml version="1.0"?>\n<CodeCoverageResults>\n'
             b'<CodeCoverageResultNode name="all" maxHit="1" minHit="0">\n']
    for i in range(nodes):
        bad = b' type="nonsense"' if bad_every and i % bad_every == bad_every - 1 else b""
        node = ('  <CodeCoverageResultNode name="n&amp;%d" maxHit="%d" minHit="0"' % (i, i % 97)).encode("ascii")
        if i % 3:
            parts.append(node + bad + b"/>\n")
        else:
            parts.append(node + bad + (">\n    <CoveringTestcase>case %d</CoveringTestcase>\n"
                                       "  </CodeCoverageResultNode>\n" % i).encode("ascii"))
    parts.append(b"</CodeCoverageResultNode>\n</CodeCoverageResults>\n")
    return b"".join(parts)


def bytes_read():
    """What this process has read so far, where the system tells."""
    try:
        with open("/proc/self/io") as f:
            return int(dict(line.split(":") for line in f)["rchar"])
    except (IOError, OSError):
        return None


class Placed(Recorder):
    """Logs where each event stands too, from event `ask_from` on."""
    ask_from = 0

    def log(self, *event):
        where = tarvo.position() if len(self.events) >= self.ask_from else None
        return Recorder.log(self, *(event + (where,)))


class LatePlaced(Placed):
    """Asks for the first time in the middle of the document."""
    ask_from = 40001


class ReadAheadTest(DocumentTestCase):
    def runs(self, document, flags=0, stop=None, recorder=Placed):
        """(calls, outcome) of the file, bytes and bytearray reads of `document`."""
        self.assertGreater(len(document), 1 << 20)
        path = self.write("doc.xml", document)
        got = []
        for parse, source in ((tarvo.parse, path), (tarvo.parse_bytes, document),
                              (tarvo.parse_bytes, bytearray(document))):
            rec = recorder(stop)
            result = outcome(parse, "lumoCodeCoverage", rec.callbacks(ELEMENTS), source, flags)
            if result[0] == "error":  # the file's path is named where the bytes' name is
                result = (result[0], [e.replace(path, "<bytes>") for e in result[1]], result[2])
            got.append((rec.events, result))
        return got

    def assert_same(self, runs):
        (file_events, file_result), (bytes_events, bytes_result), (direct_events, direct_result) = runs
        self.assertEqual(file_result, direct_result)
        self.assertEqual(bytes_result, direct_result)
        # Compared whole only when they differ: the lists are long.
        self.assertTrue(file_events == direct_events, "file events differ")
        self.assertTrue(bytes_events == direct_events, "bytes events differ")
        return direct_events, direct_result

    def test_valid(self):
        document = coverage(30000)
        events, result = self.assert_same(self.runs(document))
        self.assertEqual(result, ("ok", ""))
        self.assertEqual(events[-1], ("end", "CodeCoverageResults", (document.count(b"\n"), 22)))

    def test_positions_asked_for_late(self):
        events, result = self.assert_same(self.runs(coverage(30000), recorder=LatePlaced))
        self.assertEqual((events[40000][-1], events[40001][-1] is None), (None, False))

    @unittest.skipUnless((os.sysconf("SC_NPROCESSORS_ONLN") if hasattr(os, "sysconf") else 1) > 1,
                         "read ahead only with a core to spare")
    def test_other_threads_run_while_a_late_position_reads_again(self):
        # The other thread may go on once the gate opens, but needs the
        # interpreter lock for it: position() has to let go of it while the
        # document is read again up to the event. Nothing else takes the
        # lock from this thread meanwhile.
        if hasattr(sys, "setswitchinterval"):
            self.addCleanup(sys.setswitchinterval, sys.getswitchinterval())
            sys.setswitchinterval(60)
        else:
            self.addCleanup(sys.setcheckinterval, sys.getcheckinterval())
            sys.setcheckinterval(1 << 30)
        gate = threading.Lock()
        gate.acquire()
        ran = []
        other = threading.Thread(target=lambda: (gate.acquire(), ran.append(True)))
        other.start()
        seen = []

        def start(name, attributes):
            if attributes["name"] == "n&99990":
                gate.release()
                tarvo.position()
                seen.append(list(ran))

        tarvo.parse("lumoCodeCoverage", {"CodeCoverageResultNode": [start]}, self.write("doc.xml", coverage(100000)))
        other.join()
        self.assertEqual(seen, [[True]])

    def test_warnings_and_errors_late(self):
        self.assertEqual(self.assert_same(self.runs(coverage(30000, 7), tarvo.PARSE_IGNORE_WRONG_ATTRIBUTES))[1][0],
                         "ok")
        self.assertEqual(self.assert_same(self.runs(coverage(30000, 25000)))[1][0], "error")

    def test_a_callable_raising_late(self):
        for stop in (("start", "CoveringTestcase"), ("text", "CoveringTestcase", "case 24000")):
            events, result = self.assert_same(self.runs(coverage(30000), stop=stop))
            self.assertEqual(result, ("raised",))
            self.assertEqual(events[-1][:len(stop)], stop)

    @unittest.skipUnless(os.path.isdir("/proc/self/task"), "threads are counted in /proc")
    def test_a_second_thread_reads_only_what_cannot_change(self):
        def threads_while_parsing(parse, source):
            # At the first call the reading thread cannot have ended: it
            # holds back once a few thousand events wait.
            seen = []
            start = lambda name, attributes: seen.append(len(os.listdir("/proc/self/task")))
            parse("lumoCodeCoverage", {"CodeCoverageResults": [start]}, source)
            return seen[0] - len(os.listdir("/proc/self/task"))

        document = coverage(30000)
        small = coverage(10)
        several_cores = (os.sysconf("SC_NPROCESSORS_ONLN") if hasattr(os, "sysconf") else 1) > 1
        self.assertEqual(threads_while_parsing(tarvo.parse, self.write("doc.xml", document)), int(several_cores))
        self.assertEqual(threads_while_parsing(tarvo.parse_bytes, document), int(several_cores))
        self.assertEqual(threads_while_parsing(tarvo.parse_bytes, bytearray(document)), 0)
        self.assertEqual(threads_while_parsing(tarvo.parse, self.write("small.xml", small)), 0)

    @unittest.skipUnless(hasattr(signal, "setitimer"), "needs setitimer")
    def test_a_raising_signal_handler_stops_the_parse(self):
        document = coverage(200000)
        path = self.write("doc.xml", document)
        on_alarm(self)
        # Only the root has a callable, which sets the alarm: no Python code
        # runs after it but the signal handler.
        starts = []

        def start(name, attributes):
            starts.append(name)
            signal.setitimer(signal.ITIMER_REAL, 0.001)

        read_before = bytes_read()
        self.assertRaises(Interrupted, tarvo.parse, "lumoCodeCoverage", {"CodeCoverageResults": [start]}, path)
        self.assertEqual(starts, ["CodeCoverageResults"])
        # Stopped soon after the alarm, not at the end of the document.
        if read_before is not None:
            self.assertLess(bytes_read() - read_before, len(document) // 2)

    def test_parses_on_several_threads(self):
        document = coverage(20000)
        want = Placed()
        tarvo.parse_bytes("lumoCodeCoverage", want.callbacks(ELEMENTS), bytearray(document))
        got = [None] * 3

        def parse(i):
            rec = Placed()
            tarvo.parse_bytes("lumoCodeCoverage", rec.callbacks(ELEMENTS), document)
            got[i] = rec.events

        threads = [threading.Thread(target=parse, args=(i,)) for i in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertTrue(all(events == want.events for events in got))
