# Documents read back to back from a connected socket. Every test runs under
# a watchdog that shuts the test's sockets down, so a blocked receive ends,
# and under Python 3 also under faulthandler, which ends the process.
import socket
import threading
import time
import unittest

import tarvo
from tarvo_support import DICTIONARY_ELEMENTS, HEATMAP_ELEMENTS, PY2, Recorder, raw

try:
    import faulthandler
except ImportError:  # Python 2
    faulthandler = None

WATCHDOG_SECONDS = 20
HIGH = bytes(bytearray(range(0x80, 0x100)))
BOGUS = b'<Heatmap title="b"><Bogus/></Heatmap>'
BOGUS_ERRORS = [b"Element 'Bogus' unknown in DTD", b"Error while opening element 'Bogus'"]
NOTHING = [b"Found '\xff' (-1) where '<' expected"]


def doc(i):
    """A heatmap whose root carries an unknown attribute: one warning under flag 2."""
    return (b'<Heatmap title="t%d" u%d="x"><Element model_file="m.bpmn" id="A%d" value="3"/></Heatmap>'
            % (i, i, i))


def warning(i):
    return "Unknown attribute 'u%d'" % i


def events(i):
    return [("start", "Heatmap", {"title": "t%d" % i, "u%d" % i: "x", "min_value": "-", "max_value": "-"}),
            ("start", "Element", {"model_file": "m.bpmn", "id": "A%d" % i, "value": "3", "label": ""}),
            ("end", "Element"), ("end", "Heatmap")]


def ok(*numbers):
    return ("ok", "\n".join(warning(i) for i in numbers))


class Failure(Exception):
    pass


class SocketTestCase(unittest.TestCase):
    def setUp(self):
        self.sockets = []
        self.threads = []
        self.expired = []
        if faulthandler:
            faulthandler.dump_traceback_later(WATCHDOG_SECONDS + 10, exit=True)
        self.watchdog = threading.Timer(WATCHDOG_SECONDS, self.expire)
        self.watchdog.daemon = True
        self.watchdog.start()

    def expire(self):
        self.expired.append(True)
        for s in self.sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)  # wakes a blocked recv, which close() would not
            except socket.error:
                pass

    def tearDown(self):
        self.watchdog.cancel()
        for t in self.threads:
            t.join(WATCHDOG_SECONDS)
        for s in self.sockets:
            s.close()
        if faulthandler:
            faulthandler.cancel_dump_traceback_later()
        self.assertFalse(self.expired, "the watchdog had to end a blocked receive")

    def pair(self):
        a, b = socket.socketpair()
        self.sockets += [a, b]
        return a, b

    def feed(self, sock, steps, close=True):
        """Runs `steps` on a thread of its own (bytes are sent, callables called), then closes."""
        def run():
            try:
                for step in steps:
                    if callable(step):
                        step()
                    else:
                        sock.sendall(step)
                if close:
                    sock.shutdown(socket.SHUT_WR)
            except socket.error:
                pass  # the watchdog shut the socket
        t = threading.Thread(target=run)
        t.daemon = True
        self.threads.append(t)
        t.start()
        return t

    def rest(self, sock):
        """What is still on the socket, without waiting for more."""
        sock.setblocking(False)
        chunks = []
        try:
            while True:
                chunk = sock.recv(4096)
                if not chunk:
                    break
                chunks.append(chunk)
        except socket.error:
            pass
        sock.setblocking(True)
        return b"".join(chunks)

    def read(self, sock, loop=0, flags=2, grammar="heatmap", elements=HEATMAP_ELEMENTS, callbacks=None,
             reader=tarvo.parse_socket_stream):
        """(outcome, events) of one call; outcome ("ok", warnings) or ("error", errors, warnings)."""
        rec = Recorder()
        try:
            outcome = ("ok", reader(grammar, callbacks or rec.callbacks(elements), sock, flags, loop))
        except tarvo.ParseError as e:
            outcome = ("error", [raw(m) for m in e.errors], e.warnings)
        return outcome, rec.events

    def stream(self, data, close=True, **kw):
        """Sends `data` (small enough for the socket buffer), reads; (outcome, events, bytes left)."""
        a, b = self.pair()
        b.sendall(data)
        if close:
            b.shutdown(socket.SHUT_WR)
        outcome, got = self.read(a, **kw)
        return outcome, got, self.rest(a)


class SocketStreamTest(SocketTestCase):
    def test_one_document(self):
        self.assertEqual(self.stream(doc(1)), (ok(1), events(1), b""))

    def test_loop_reads_every_document_until_the_peer_closes(self):
        for sep in (b"", b"\n", b" \r\n\t "):
            data = sep.join([doc(1), doc(2), doc(3)]) + sep
            self.assertEqual(self.stream(data, loop=1), (ok(1, 2, 3), events(1) + events(2) + events(3), b""),
                             repr(sep))

    def test_loop_stops_at_a_malformed_document_without_reading_further(self):
        outcome, got, rest = self.stream(doc(1) + b"\n" + BOGUS + b"\n" + doc(3), loop=1)
        self.assertEqual(outcome, ("error", BOGUS_ERRORS, [warning(1)]))
        self.assertEqual(got, events(1) + [("start", "Heatmap", {"title": "b", "min_value": "-", "max_value": "-"})])
        self.assertEqual(rest, b"></Heatmap>\n" + doc(3))

    def test_document_sent_byte_by_byte_with_pauses(self):
        pause = lambda: time.sleep(0.002)
        # One document, then the peer stays quiet, then sends whitespace and
        # the next byte: the call ends there, taking that byte with it.
        a, b = self.pair()
        sender = self.feed(b, [s for c in bytearray(doc(1)) for s in (pause, bytes(bytearray([c])))] +
                           [lambda: time.sleep(0.05), b"\n", pause, b" ", pause, b"x", pause, b"tail"])
        self.assertEqual(self.read(a), (ok(1), events(1)))
        sender.join(WATCHDOG_SECONDS)
        self.assertEqual(self.rest(a), b"tail")
        # Loop mode over two documents arriving the same way.
        a, b = self.pair()
        self.feed(b, [s for c in bytearray(doc(1) + b"\n" + doc(2)) for s in (pause, bytes(bytearray([c])))])
        self.assertEqual(self.read(a, loop=1), (ok(1, 2), events(1) + events(2)))

    def test_next_document_in_the_same_packet(self):
        packet = doc(1) + b" \n" + doc(2) + b"\n" + doc(3)[:10]
        # The whitespace and the first byte of the next document go with the
        # first; everything after stays on the socket.
        self.assertEqual(self.stream(packet, close=False), (ok(1), events(1), doc(2)[1:] + b"\n" + doc(3)[:10]))
        self.assertEqual(self.stream(packet[:-11], loop=1), (ok(1, 2), events(1) + events(2), b""))

    def test_bytes_80_to_ff_in_text_and_attribute_values(self):
        dictionary = b"<dictionary><translation><source>" + HIGH + b"</source><target>a" + HIGH + \
            b"</target></translation></dictionary>"
        outcome, got, _ = self.stream(dictionary, flags=0, grammar="dictionary", elements=DICTIONARY_ELEMENTS)
        self.assertEqual(outcome, ("ok", ""))
        self.assertEqual([raw(e[2]) for e in got if e[0] == "text"], [HIGH, b"a" + HIGH])
        outcome, got, _ = self.stream(b'<Heatmap title="' + HIGH + b'"/>', flags=0)
        self.assertEqual(outcome, ("ok", ""))
        self.assertEqual(raw(got[0][2]["title"]), HIGH)

    def test_peer_closing_early_and_stream_messages(self):
        cases = [
            (b"", NOTHING, b""),
            (b" \r\n\t", NOTHING, b""),
            (b"x<Heatmap/>", [b"Found 'x' (120) where '<' expected"], b"Heatmap/>"),
            (b'<?xml version="1.0"?>' + doc(1),
             [b"Element '' unknown in DTD", b"Error while opening element ''"], b'ml version="1.0"?>' + doc(1)),
            (b'<Heatmap title="t">', [b"Unexpected end of file in text"], b""),
            (b'<Heatmap title="t"><Element model_file="m.bpmn" id="A" value="3"/>',
             [b"Unexpected end of file in text"], b""),
            (b'<Heatmap title="t', [b"Found '\xff' where '>' expected"], b""),
            (b'<Heatmap titl', [b"Found '\xff' where '=' expected", b"Error in attributes for element 'Heatmap'"], b""),
            (b'<Heatmap title="t"></Heatmap', [b"Found '\xff' where '>' expected"], b""),
        ]
        for data, errors, rest in cases:
            for loop in (0, 1):
                outcome, _, left = self.stream(data, loop=loop)
                self.assertEqual((outcome, left), (("error", errors, []), rest), (data, loop))

    def test_callback_raising_in_the_middle_of_a_series(self):
        rec = Recorder()
        calls = []

        def element_start(name, attributes):
            calls.append(attributes["id"])
            if attributes["id"] == "A2":
                raise Failure()

        callbacks = rec.callbacks(HEATMAP_ELEMENTS)
        callbacks["Element"][0] = element_start
        a, b = self.pair()
        b.sendall(doc(1) + doc(2) + b"\n" + doc(3))
        b.shutdown(socket.SHUT_WR)
        self.assertRaises(Failure, tarvo.parse_socket_stream, "heatmap", callbacks, a, 2, 1)
        self.assertEqual(calls, ["A1", "A2"])
        self.assertTrue(self.rest(a).endswith(b"</Heatmap>\n" + doc(3)))

    def test_other_threads_run_while_a_parse_waits(self):
        # The second document is sent only after the first has been
        # delivered and this thread has then run Python code for a while:
        # a parse that kept the interpreter lock while waiting for it would
        # never see it.
        delivered = threading.Event()
        progress = []

        def work():
            delivered.wait(WATCHDOG_SECONDS)
            for i in range(200000):
                progress.append(i)

        callbacks = Recorder().callbacks(HEATMAP_ELEMENTS)
        callbacks["Heatmap"][2] = lambda name: delivered.set()
        a, b = self.pair()
        self.feed(b, [doc(1), work, doc(2)])
        self.assertEqual(self.read(a, loop=1, callbacks=callbacks), (ok(1, 2), []))
        self.assertEqual(len(progress), 200000)


class SocketArgumentTest(SocketTestCase):
    def test_fileno_failures_propagate_and_nothing_is_read(self):
        a, b = self.pair()
        b.sendall(doc(1))

        class Raising(object):
            def fileno(self):
                raise Failure()

        class Text(object):
            def fileno(self):
                return str(a.fileno())

        class Bad(object):
            fileno = None

        for sock, exception in [(Raising(), Failure), (Text(), TypeError), (object(), AttributeError),
                                (Bad(), TypeError)]:
            rec = Recorder()
            self.assertRaises(exception, tarvo.parse_socket_stream, "heatmap", rec.callbacks(HEATMAP_ELEMENTS),
                              sock, 2, 1)
            self.assertEqual(rec.events, [])
        self.assertEqual(self.rest(a), doc(1))

    def test_argument_errors_read_nothing(self):
        a, b = self.pair()
        b.sendall(doc(1))
        for args, exception in [(("heatmap", {}, a), TypeError), (("heatmap", {}, a, 2, 1, 0), TypeError),
                                (("heatmap", {}, a, 2, 256), OverflowError), (("heatmap", {}, a, 2, -1), OverflowError),
                                (("heatmap", [], a, 2), TypeError), (("nope", {}, a, 2), ValueError)]:
            try:
                tarvo.parse_socket_stream(*args)
            except exception as e:
                if exception is TypeError and isinstance(args[1], dict):
                    self.assertIn("parse", str(e))
            else:
                self.fail("no %s for %r" % (exception.__name__, args))
        self.assertEqual(self.rest(a), doc(1))

    def test_loop_flag(self):
        data = doc(1) + doc(2)
        self.assertEqual(self.stream(data, reader=lambda g, c, s, f, loop: tarvo.parse_socket_stream(g, c, s, f)),
                         (ok(1), events(1), doc(2)[1:]))
        for loop, expected in [(0, ok(1)), (1, ok(1, 2)), (255, ok(1, 2)), (True, ok(1, 2))]:
            self.assertEqual(self.stream(data, loop=loop)[0], expected, loop)


class BytewiseReaderTest(SocketTestCase):
    def test_same_results_events_and_bytes_left_as_the_public_reader(self):
        # (stream, whether a single-document read ends without the peer closing)
        streams = [(doc(1) + b"  " + doc(2) + b"\n\n" + doc(3)[:20], True), (doc(1) + BOGUS + doc(3), True),
                   (b"", False), (b"\t x", False), (doc(1) + b" ", False), (BOGUS + b" \n" + doc(2), True),
                   (doc(1) + b"\n" + doc(2) + b" \n" + doc(3)[:-1], True), (b'<Heatmap title="' + HIGH + b'"/> x', True)]
        for data, ends_while_open in streams:
            for loop in (0, 1):
                for close in (True, False):
                    if not close and (loop or not ends_while_open):
                        continue  # would wait for the peer
                    public = self.stream(data, close=close, loop=loop)
                    bytewise = self.stream(data, close=close, loop=loop, reader=tarvo._parse_socket_stream_bytewise)
                    self.assertEqual(public, bytewise, (data, loop, close))


if __name__ == "__main__":
    unittest.main()
