# Waits for a file: a parse and a grammar load let other threads run while
# they wait, a signal handler that returns leaves the read going, and one
# that raises ends the call with its exception. FIFOs make the waits: their
# writers are another process (so that a signal always interrupts this
# process's wait) or a thread (to see that it runs meanwhile).
import os
import signal
import subprocess
import sys
import threading
import time

import tarvo
from tarvo_support import (HEATMAP, HEATMAP_ELEMENTS, HEATMAP_EVENTS, ROOT, DocumentTestCase, Interrupted, Recorder,
                           on_alarm)

# Waits argv[2] seconds, opens the FIFO argv[1] for writing, then writes the
# pieces read from standard input (separated by NUL bytes) argv[3] seconds
# apart, sends SIGALRM to the reader (its parent) if argv[5] says so, and
# waits argv[4] seconds more before closing the FIFO.
WRITER = """
import os, signal, sys, time
pieces = (sys.stdin.read() if sys.version_info[0] == 2 else sys.stdin.buffer.read()).split(b"\\0")
time.sleep(float(sys.argv[2]))
fd = os.open(sys.argv[1], os.O_WRONLY)
for piece in pieces:
    os.write(fd, piece)
    time.sleep(float(sys.argv[3]))
if sys.argv[5] == "signal":
    os.kill(os.getppid(), signal.SIGALRM)
time.sleep(float(sys.argv[4]))
os.close(fd)
"""


class WaitTest(DocumentTestCase):
    def fifo(self, name="fifo.xml"):
        path = os.path.join(self.dir, name)
        os.mkfifo(path)
        return path

    def writer(self, fifo, pieces, before, between, after, then_signal=False):
        process = subprocess.Popen([sys.executable, "-c", WRITER, fifo, str(before), str(between), str(after),
                                    "signal" if then_signal else "-"], stdin=subprocess.PIPE)
        process.stdin.write(b"\0".join(pieces))
        process.stdin.close()

        def end():
            if process.poll() is None:
                process.kill()
            process.wait()
        self.addCleanup(end)
        return process

    def test_a_signal_handler_that_returns_leaves_the_read_going(self):
        # Signals every 20 ms while the open waits for the writer and while
        # each read waits for the next piece.
        fifo = self.fifo()
        calls = []
        writer = self.writer(fifo, [HEATMAP[:50], HEATMAP[50:120], HEATMAP[120:]], 0.3, 0.15, 0)
        on_alarm(self, lambda signum, frame: calls.append(signum), 0.02)
        rec = Recorder()
        result = tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), fifo)
        signal.setitimer(signal.ITIMER_REAL, 0)
        self.assertEqual((result, rec.events), ("", HEATMAP_EVENTS))
        self.assertTrue(len(calls) >= 10, len(calls))
        self.assertEqual(writer.wait(), 0)

    def test_a_signal_handler_that_raises_ends_the_call_with_its_exception(self):
        colors_end = HEATMAP.index(b"/>") + 2
        seen = HEATMAP_EVENTS[:3]  # Heatmap and Colors
        on_alarm(self)  # the timer's cleanup also ends a timer that a failed step left set
        for pieces, events in [(None, []),  # no writer: the open waits
                               ([b""], []),  # an open FIFO that stays empty
                               ([HEATMAP[:colors_end]], seen)]:  # waiting for the rest of the document
            fifo = self.fifo("fifo%d.xml" % len(os.listdir(self.dir)))
            rec = Recorder()
            if pieces is None:
                signal.setitimer(signal.ITIMER_REAL, 0.3)
            else:  # the signal comes once what was written has long been read
                self.writer(fifo, pieces, 0, 0.5, 30, then_signal=True)
            self.assertRaises(Interrupted, tarvo.parse, "heatmap", rec.callbacks(HEATMAP_ELEMENTS), fifo)
            self.assertEqual(rec.events, events)
        # Reading a head waits the same way.
        for call in (tarvo.detect_grammar, lambda path: tarvo.validate(None, path)):
            fifo = self.fifo("head%d.xml" % len(os.listdir(self.dir)))
            self.writer(fifo, [HEATMAP[:40]], 0, 0.5, 30, then_signal=True)
            self.assertRaises(Interrupted, call, fifo)

    def test_file_waits_let_other_threads_run(self):
        # The writer of each FIFO is a thread of this process: a call that
        # held the interpreter lock while it opens or reads would hang, so a
        # hard limit ends the process then.
        signal.alarm(60)
        self.addCleanup(signal.alarm, 0)
        with open(os.path.join(ROOT, "examples", "recipe", "recipe.grammar"), "rb") as f:
            grammar = f.read().replace(b"grammar recipe", b"grammar recipe_through_a_fifo")
        rec = Recorder()
        for name, data, call, result in [
                ("doc.xml", HEATMAP, lambda path: tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path), ""),
                ("head.xml", HEATMAP, lambda path: tarvo.detect_grammar(path).grammar, "heatmap"),
                ("auto.xml", HEATMAP, lambda path: tarvo.validate(None, path).valid, True),
                ("recipe.grammar", grammar, tarvo.load_grammar, "recipe_through_a_fifo")]:
            fifo = self.fifo(name)
            ticks = []

            def write():
                with open(fifo, "wb") as f:
                    f.write(data[:60])
                    f.flush()
                    deadline = time.time() + 0.3  # a slow writer: the call waits, this thread runs
                    while time.time() < deadline:
                        ticks.append(1)
                    f.write(data[60:])
            writer = threading.Thread(target=write)
            writer.start()
            self.assertEqual(call(fifo), result)
            writer.join()
            self.assertTrue(len(ticks) > 1000, (name, len(ticks)))
        self.assertEqual(rec.events, HEATMAP_EVENTS)
        self.assertEqual(tarvo.parse("recipe_through_a_fifo", {},
                                     os.path.join(ROOT, "examples", "recipe", "pancakes.xml")), "")
