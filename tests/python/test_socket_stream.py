# Documents read back to back from a connected socket. A watchdog thread shuts
# each test's sockets down so a blocked receive ends; should the receive hold
# the interpreter lock, a hard limit ends the process (faulthandler, SIGALRM).
import errno
import signal
import socket
import threading
import time
import unittest

import tarvo
from tarvo_support import (DICTIONARY_ELEMENTS, HEATMAP_ELEMENTS, HIGH, PY2, Failure, Interrupted, Recorder, on_alarm,
                           outcome, raised, raw)

try:
    import faulthandler
except ImportError:  # Python 2
    faulthandler = None

WATCHDOG_SECONDS = 20


def doc(i):
    """A heatmap whose root carries an unknown attribute: one warning under flag 2."""
    return b'<Heatmap title="t%d" u%d="x"><Element model_file="m" id="A%d" value="3"/></Heatmap>' % (i, i, i)


def ok(*numbers):
    return ("ok", "\n".join("Unknown attribute 'u%d'" % i for i in numbers))


def events(*numbers):
    return [e for i in numbers for e in [
        ("start", "Heatmap", {"title": "t%d" % i, "u%d" % i: "x", "min_value": "-", "max_value": "-"}),
        ("start", "Element", {"model_file": "m", "id": "A%d" % i, "value": "3", "label": ""}),
        ("end", "Element"), ("end", "Heatmap")]]


def one_by_one(data):
    return [s for c in bytearray(data) for s in (lambda: time.sleep(0.002), bytes(bytearray([c])))]


class SocketTest(unittest.TestCase):
    def setUp(self):
        self.sockets, self.expired = [], []
        if faulthandler:
            faulthandler.dump_traceback_later(WATCHDOG_SECONDS + 10, exit=True)
            self.addCleanup(faulthandler.cancel_dump_traceback_later)
        else:
            signal.alarm(WATCHDOG_SECONDS + 10)  # its default action ends the process
            self.addCleanup(signal.alarm, 0)
        watchdog = threading.Timer(WATCHDOG_SECONDS, self.expire)
        watchdog.daemon = True
        watchdog.start()
        self.addCleanup(lambda: self.assertFalse(self.expired, "the watchdog had to end a blocked receive"))
        self.addCleanup(watchdog.cancel)

    def expire(self):
        self.expired.append(True)
        for s in self.sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)  # wakes a blocked recv, which close() would not
            except socket.error:
                pass

    def pair(self, steps, close=True):
        """A connected pair; a thread sends `steps` (bytes, or callables to call) into the second."""
        a, b = socket.socketpair()
        self.sockets += [a, b]
        self.addCleanup(a.close)
        self.addCleanup(b.close)

        def run():
            try:
                for step in steps:
                    step() if callable(step) else b.sendall(step)
                if close:
                    b.shutdown(socket.SHUT_WR)
            except socket.error:
                pass  # the watchdog shut the socket
        self.sender = threading.Thread(target=run)
        self.sender.daemon = True
        self.sender.start()
        self.addCleanup(self.sender.join, WATCHDOG_SECONDS)
        return a

    def rest(self, sock):
        """What is still on the socket once the sender is done, without waiting for more."""
        self.sender.join(WATCHDOG_SECONDS)
        try:
            return sock.recv(65536, socket.MSG_DONTWAIT)
        except socket.error:
            return b""

    def read(self, sock, loop=0, callbacks=None, reader=tarvo.parse_socket_stream):
        """(outcome, events) of one call, with error messages as bytes."""
        rec = Recorder()
        got = outcome(reader, "heatmap", callbacks or rec.callbacks(HEATMAP_ELEMENTS), sock, 2, loop)
        return (got if got[0] == "ok" else ("error", [raw(m) for m in got[1]], got[2])), rec.events

    def stream(self, data, close=True, **kw):
        """Sends `data` at once and reads; (outcome, events, bytes left)."""
        a = self.pair([data], close)
        self.sender.join(WATCHDOG_SECONDS)
        return self.read(a, **kw) + (self.rest(a),)

    def test_documents_sent_at_once(self):
        def series(sep):
            return sep.join([doc(1), doc(2), doc(3)]) + sep

        def heatmap(title):
            return [("start", "Heatmap", {"title": title, "min_value": "-", "max_value": "-"})]

        packet = doc(1) + b" \n" + doc(2) + b"\n" + doc(3)[:10]
        cases = [  # data, whether the peer closes, loop flags, (outcome, events, what is left on the socket)
            (doc(1), True, (0,), (ok(1), events(1), b"")),
            (series(b""), True, (1, 255), (ok(1, 2, 3), events(1, 2, 3), b"")),
            (series(b" \r\n\t "), True, (1, True), (ok(1, 2, 3), events(1, 2, 3), b"")),
            (b'<Heatmap title="' + HIGH + b'"/>', True, (0,),
             (ok(), heatmap(HIGH if PY2 else HIGH.decode("utf-8", "surrogateescape")) + [("end", "Heatmap")], b"")),
            # Nothing after the root element's '>' is taken, and nothing waited for.
            (packet, False, (0,), (ok(1), events(1), packet[len(doc(1)):])),
            (packet[:-11], True, (1,), (ok(1, 2), events(1, 2), b"")),
            # The loop ends at a malformed document; the next is not read.
            (doc(1) + b'\n<Heatmap title="b"><Bogus/></Heatmap>\n' + doc(3), True, (1,), (
                ("error", [b"Element 'Bogus' unknown in DTD", b"Error while opening element 'Bogus'"],
                 ["Unknown attribute 'u1'"]), events(1) + heatmap("b"), b"></Heatmap>\n" + doc(3))),
            (b" \r\n\t", True, (0, 1), (("error", [b"Found '\xff' (-1) where '<' expected"], []), [], b"")),
            (b"x<Heatmap/>", True, (0, 1), (("error", [b"Found 'x' (120) where '<' expected"], []), [], b"<Heatmap/>")),
            (b'<Heatmap title="t', True, (0, 1), (("error", [b"Found '\xff' where '>' expected"], []), heatmap("t"),
                                                  b"")),
        ]
        for data, close, loops, expected in cases:
            for loop in loops:
                self.assertEqual(self.stream(data, close, loop=loop), expected, (data, loop))
        self.assertEqual(self.stream(series(b""), reader=lambda g, c, s, f, loop: tarvo.parse_socket_stream(
            g, c, s, f)), (ok(1), events(1), series(b"")[len(doc(1)):]))  # no loop argument: one document
        self.assertEqual(self.stream(series(b""), reader=lambda g, c, s, f, loop: tarvo.parse_socket_stream(
            callbacks=c, loop=loop, sock=s, grammar=g, flags=f), loop=1), (ok(1, 2, 3), events(1, 2, 3), b""))

    def test_documents_sent_byte_by_byte_from_another_thread(self):
        # The call ends at the root element's '>', whatever the peer sends later.
        a = self.pair(one_by_one(doc(1)) + [lambda: time.sleep(0.05)] + one_by_one(b"\n x") + [b"tail"])
        self.assertEqual(self.read(a), (ok(1), events(1)))
        self.assertEqual(self.rest(a), b"\n xtail")
        # The second document is sent only after the first has been delivered
        # and this thread has then run Python code for a while: a parse that
        # kept the interpreter lock while waiting would never see it.
        delivered = threading.Event()
        progress = []

        def work():
            delivered.wait(WATCHDOG_SECONDS)
            progress.extend(i for i in range(200000))

        rec = Recorder()
        callbacks = rec.callbacks(HEATMAP_ELEMENTS)
        callbacks["Heatmap"][2] = lambda name: rec.end(name) and delivered.set()
        a = self.pair(one_by_one(doc(1)) + [work] + one_by_one(b"\n" + doc(2)))
        self.assertEqual(self.read(a, loop=1, callbacks=callbacks), (ok(1, 2), []))
        self.assertEqual((rec.events, len(progress)), (events(1, 2), 200000))

    def test_callback_raising_in_the_middle_of_a_series(self):
        rec = Recorder(events(2)[1])
        a = self.pair([doc(1) + doc(2) + b"\n" + doc(3)])
        self.assertRaises(Failure, tarvo.parse_socket_stream, "heatmap", rec.callbacks(HEATMAP_ELEMENTS), a, 2, 1)
        self.assertEqual(rec.events, events(1, 2)[:6])
        self.assertEqual(self.rest(a), b"></Heatmap>\n" + doc(3))

    def test_each_call_takes_only_its_own_documents(self):
        a, b = socket.socketpair()
        self.sockets += [a, b]
        self.addCleanup(a.close)
        self.addCleanup(b.close)
        # Request and response over one socket: a call that waited for a
        # byte after its document would never see the next request.
        for i in (1, 2, 3):
            b.sendall(b"\n" + doc(i))
            self.assertEqual(self.read(a), (ok(i), events(i)))
            a.sendall(b"ack")
            self.assertEqual(b.recv(10), b"ack")
        # Documents that arrive in one packet, read by single calls in a row.
        b.sendall(doc(1) + doc(2) + b" \n" + doc(3))
        for i in (1, 2, 3):
            self.assertEqual(self.read(a), (ok(i), events(i)))
        # A loop stopped by a raising callable, then a single call.
        b.sendall(doc(1) + b"\n" + doc(2))
        rec = Recorder(events(1)[-1])
        self.assertRaises(Failure, tarvo.parse_socket_stream, "heatmap", rec.callbacks(HEATMAP_ELEMENTS), a, 2, 1)
        self.assertEqual(self.read(a), (ok(2), events(2)))

    def test_an_interrupted_wait_raises_and_delivers_nothing_more(self):
        on_alarm(self)
        for grammar, data, loop, seen in [
                ("heatmap", b"", 0, []),
                ("heatmap", b'<Heatmap title="1"', 0, []),  # inside a start tag: no start event
                ("dictionary", b"<dictionary><translation><source>ab", 0,
                 [("start", e, {}) for e in ("dictionary", "translation", "source")]),  # inside text
                ("heatmap", doc(1) + b"\n", 1, events(1))]:  # between documents
            rec = Recorder()
            a = self.pair([data], close=False)
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            self.assertRaises(Interrupted, tarvo.parse_socket_stream, grammar,
                              rec.callbacks(HEATMAP_ELEMENTS + DICTIONARY_ELEMENTS), a, 2, loop)
            self.assertEqual(rec.events, seen)
        self.sender.join(WATCHDOG_SECONDS)
        self.sockets[-1].sendall(doc(2))  # what comes next is read whole
        self.assertEqual(self.read(a), (ok(2), events(2)))

    def test_receive_errors_raise_os_error(self):
        a = self.pair([], close=False)
        a.settimeout(0.05)  # nothing arrives in time
        with open(__file__, "rb") as f:
            for sock, number in [(a, errno.EAGAIN), (f, errno.ENOTSOCK)]:
                self.assertEqual(raised(OSError, tarvo.parse_socket_stream, "heatmap", {}, sock).errno, number)
