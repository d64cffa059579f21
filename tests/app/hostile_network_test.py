#!/usr/bin/python3
"""The real installer under Wine against networks that misbehave, scripted at
the socket level on 127.0.0.1 (silence, trickles, a port that takes no
connection, a TLS server that never answers the ClientHello), and against a
second start on the same work folder.

The cases of one test run side by side in one prefix: each waits on a
network, not on the processor."""

import os
import socket
import threading
import time
import unittest

import e2e_support as e2e
from e2e_support import windows_path
from release_server import ReleaseServer

PREFIX = None
# From the window's closing to the end of the process.
CLOSE_S = 1.0


def setUpModule():
    global PREFIX
    PREFIX = e2e.open_module_prefix()


def tearDownModule():
    e2e.close_module_prefix(PREFIX)


class RawServer:
    """A listening socket on 127.0.0.1 that does only what it is told.

    silent: accepts and reads, never answers (an HTTP server that hangs, or
        a TLS server that never answers the ClientHello).
    headers_trickle: answers with a status line and headers one byte every
        half second, never finishing them.
    full_backlog: never accepts, and its one-place backlog is filled at once,
        so that further connection attempts get no answer at all.
    """

    def __init__(self, mode):
        self.mode = mode
        self.accepted = 0
        self.first_accept = None  # wall-clock time, to compare with file times
        self.stopped = threading.Event()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.held = []
        if mode == "full_backlog":
            self.listener.listen(0)
            for _ in range(3):
                filler = socket.socket()
                filler.setblocking(False)
                filler.connect_ex(("127.0.0.1", self.port))
                self.held.append(filler)
        else:
            self.listener.listen(8)
            self.listener.settimeout(0.2)
            threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.stopped.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            self.accepted += 1
            if self.first_accept is None:
                self.first_accept = time.time()
            self.held.append(connection)
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        connection.settimeout(0.5)
        answer = b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nX-Slow: " + b"x" * 200
        sent = 0
        while not self.stopped.is_set():
            try:
                connection.recv(65536)
            except socket.timeout:
                pass
            except OSError:
                return
            if self.mode == "headers_trickle" and sent < len(answer):
                try:
                    connection.send(answer[sent:sent + 1])
                except OSError:
                    return
                sent += 1

    def url(self, scheme="http", host="127.0.0.1"):
        return "%s://%s:%d/update/stable.json" % (scheme, host, self.port)

    def close(self):
        self.stopped.set()
        for s in self.held + [self.listener]:
            s.close()


def part_size(work):
    sizes = [os.path.getsize(os.path.join(work, n)) for n in os.listdir(work) if n.endswith(".part")] \
        if os.path.isdir(work) else []
    return sizes[0] if sizes else None


class HostileNetworkTest(unittest.TestCase):

    def setUp(self):
        e2e.park_mouse()
        self.folder = e2e.new_folder(self)
        self.release = ReleaseServer()
        self.addCleanup(self.release.close)
        self.release.publish(e2e.FAKE_SETUP, version="1.4.2")
        # A 1 MiB setup program at 1 byte/s and at 2 KB/s.
        big = os.path.join(self.folder, "big-setup.exe")
        with open(big, "wb") as f:
            f.write(os.urandom(1024 * 1024))
        self.release.publish(big, version="3.0.1", manifest_path="/byte.json", chunk=1, delay_ms=1000)
        self.release.publish(big, version="3.0.2", manifest_path="/slow.json", chunk=512, delay_ms=250)

    def raw(self, mode):
        server = RawServer(mode)
        self.addCleanup(server.close)
        return server

    def start(self, url, work, outcome=None, **env):
        args = ["--manifest-url", url, "--work-dir", windows_path(work)]
        if outcome:
            args += ["--outcome-file", windows_path(outcome)]
        run = e2e.Installer(PREFIX, args, self.folder, **env)
        self.addCleanup(run.kill)
        return run

    def test_closing_ends_the_program_within_a_second_and_stalls_end_by_themselves(self):
        silent = self.raw("silent")
        trickle = self.raw("headers_trickle")
        backlog = self.raw("full_backlog")
        handshake = self.raw("silent")
        unanswered = self.raw("silent")
        # name: (manifest address, ready to be closed)
        cases = {
            "silent server": (silent.url(), lambda work: silent.accepted > 0),
            "headers one byte at a time": (trickle.url(), lambda work: trickle.accepted > 0),
            "no answer to the connection": (backlog.url(), lambda work: True),
            "TLS handshake never answered": (handshake.url("https", "localhost"),
                                             lambda work: handshake.accepted > 0),
            "body at 1 byte/s": (self.release.url("/byte.json"),
                                 lambda work: (part_size(work) or 0) > 0),
            "body at 2 KB/s": (self.release.url("/slow.json"), lambda work: part_size(work) is not None),
        }

        # Left alone, an unanswered handshake ends on the offline screen.
        outcome = os.path.join(self.folder, "unanswered-outcome")
        alone = self.start(unanswered.url("https", "localhost"), os.path.join(self.folder, "alone"),
                           outcome)

        # Two cases at a time: every window animates its ring, and more of
        # them at once would measure the processor's queue, not the close.
        runs = {}
        timings = {}
        names = list(cases)
        for group in (names[0:2], names[2:4], names[4:6]):
            for name in group:
                work = os.path.join(self.folder, name.replace(" ", "-").replace("/", "-"))
                runs[name] = (self.start(cases[name][0], work), work)
            windows = {name: e2e.find_window(e2e.WINDOW_TITLE, runs[name][0], 30) for name in group}
            for name in group:
                work = runs[name][1]
                e2e.wait_for(lambda: cases[name][1](work), 20, what="%s under way" % name)
            if "body at 2 KB/s" in group:
                # Progress at any speed: the part file fills as bytes arrive,
                # not a 64 KiB buffer at a time (32 s at this speed).
                slow_work = runs["body at 2 KB/s"][1]
                first = part_size(slow_work)
                time.sleep(2)
                later = part_size(slow_work)
                self.assertGreater(later, first or 0, "the part file did not grow at 2 KB/s")
                self.assertGreater(later, 1000)
            time.sleep(0.5)  # every transfer is now waiting on its network
            for name in group:
                run = runs[name][0]
                # The windows lie on top of each other: this one comes up
                # first, and then its close glyph is clicked.
                e2e.xdotool("windowraise", windows[name])
                point = e2e.WindowPoint(windows[name])
                e2e.move_pointer(*point.screen(296, 24))
                started = time.monotonic()
                e2e.xdotool("click", 1)
                e2e.wait_for(lambda: not e2e.geometry(windows[name]), 10, step=0.01,
                             what="the window of %s to close" % name)
                closed = time.monotonic()
                code = run.wait(25)
                ended = time.monotonic()
                timings[name] = (closed - started, ended - closed)
                with self.subTest(name):
                    self.assertEqual(code, 0)
        print("\nclick to window gone, window gone to process end: " +
              ", ".join("%s %.2f + %.2f s" % (n, *t) for n, t in timings.items()))
        # The program's part (the worker's return) takes milliseconds; the
        # rest is Wine taking the process down, which a busy 2-core machine
        # can stretch past a second now and then. So the median must stay
        # under the limit and no case beyond twice it. Before, a waiting
        # transfer kept the process for 15 s or more.
        ends = sorted(to_end for _, to_end in timings.values())
        self.assertLess(ends[len(ends) // 2], CLOSE_S)
        for name, (to_close, to_end) in timings.items():
            with self.subTest(name):
                self.assertLess(to_end, 2 * CLOSE_S)
                self.assertLess(to_close + to_end, 3 * CLOSE_S)

        # Nothing left behind stops the next start: each folder installs.
        again = {}
        for name, (_, work) in runs.items():
            record = os.path.join(self.folder, name.replace(" ", "-").replace("/", "-") + ".record")
            result = os.path.join(work + ".outcome")
            again[name] = (self.start(self.release.url("/update/stable.json"), work, result,
                                      KESTRELUME_FAKE_SETUP_RECORD=windows_path(record)),
                           work, result)
        for name, (run, work, result) in again.items():
            with self.subTest(name + ", started again"):
                self.assertEqual(run.wait(60), 0)
                self.assertEqual(e2e.read_text(result), "launched")
                self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])

        self.assertEqual(alone.wait(45), 0)
        self.assertEqual(e2e.read_text(outcome), "offline")
        # Counted from the connection the handshake never got an answer on
        # to the offline screen's outcome.
        self.assertIsNotNone(unanswered.first_accept)
        waited = os.path.getmtime(outcome) - unanswered.first_accept
        print("unanswered handshake: offline after %.1f s" % waited)
        self.assertLess(waited, 30)


class ResumeTest(e2e.ServerTest):

    def test_a_start_after_a_close_asks_for_the_rest_and_starts_setup_once(self):
        e2e.park_mouse()
        manifest = self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        size = manifest["size"]
        # Slow enough to be closed half-way; answers "Range: bytes=N-" with the rest.
        self.server.route("/releases/KestrelumeSetup-1.4.2.exe", body_file=os.path.abspath(e2e.FAKE_SETUP),
                          chunk=max(size // 100, 1), delay_ms=50, ranges=1)
        work = os.path.join(self.folder, "work")
        record = os.path.join(self.folder, "record")
        outcome = os.path.join(self.folder, "outcome")

        first = e2e.Installer(PREFIX, ["--manifest-url", self.manifest_url(), "--work-dir",
                                       windows_path(work)], self.folder)
        self.addCleanup(first.kill)
        window = e2e.find_window(e2e.WINDOW_TITLE, first, 30)
        e2e.wait_for(lambda: (part_size(work) or 0) >= size // 2, 30, what="half of the download")
        e2e.WindowPoint(window).key("Escape")
        self.assertEqual(first.wait(10), 0)
        kept = part_size(work)
        self.assertGreaterEqual(kept, size // 2)
        self.assertLess(kept, size)

        second = e2e.Installer(PREFIX, ["--manifest-url", self.manifest_url(), "--work-dir",
                                        windows_path(work), "--outcome-file", windows_path(outcome)],
                               self.folder, KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
        self.addCleanup(second.kill)
        self.assertEqual(second.wait(60), 0)
        self.assertEqual(e2e.read_text(outcome), "launched")
        e2e.wait_for(lambda: os.path.exists(record), 15, what="the setup program's record")
        self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])
        downloads = self.downloads()
        self.assertEqual(len(downloads), 2)
        self.assertEqual(downloads[0][3], "")
        # The second start asks for the rest from what the first had written,
        # and is sent only that.
        self.assertEqual(downloads[1][3], "bytes=%d-" % kept)
        self.assertEqual(int(downloads[1][4]), size - kept)
        time.sleep(0.5)
        with open(record) as f:  # two lines per start
            self.assertEqual(len(f.read().splitlines()), 2, "setup started more than once")


class SecondStartTest(e2e.ServerTest):

    def test_a_second_start_on_the_same_folder_leaves_it_to_the_first(self):
        e2e.park_mouse()
        # Slow enough that the second start finds the first one at work.
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2", chunk=4096, delay_ms=100)
        shared = os.path.join(self.folder, "shared")
        other = os.path.join(self.folder, "other")

        def start(name, work, spelling=None):
            record = os.path.join(self.folder, name + ".record")
            outcome = os.path.join(self.folder, name + ".outcome")
            args = ["--manifest-url", self.manifest_url(), "--work-dir",
                    spelling or windows_path(work), "--outcome-file", windows_path(outcome)]
            run = e2e.Installer(PREFIX, args, self.folder,
                                KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
            self.addCleanup(run.kill)
            return run, record, outcome

        # Two pairs at once: one folder twice, and two folders of their own.
        # The second start spells the shared folder another way: through its
        # neighbour and "..", with doubled and trailing separators.
        first = start("first", shared)
        third = start("third", other)
        time.sleep(0.3)
        second = start("second", shared,
                       windows_path(other) + "\\..\\\\" + os.path.basename(shared) + "\\")
        fourth = start("fourth", os.path.join(self.folder, "fourth"))

        # Whichever of the pair claimed the folder first runs; the other gives
        # way at once, without a window, an outcome or a setup start.
        pair = [first, second]
        for run, _, _ in pair:
            self.assertEqual(run.wait(60), 0)
        ran = [p for p in pair if e2e.read_text(p[2]) == "launched"]
        self.assertEqual(len(ran), 1)
        gave_way = pair[1 - pair.index(ran[0])]
        self.assertIsNone(e2e.read_text(gave_way[2]))
        for run, record, outcome in (third, fourth):
            self.assertEqual(run.wait(60), 0)
            self.assertEqual(e2e.read_text(outcome), "launched")
        e2e.wait_for(lambda: all(os.path.exists(r) for r in (ran[0][1], third[1], fourth[1])), 15,
                     what="the setup programs' records")
        time.sleep(0.5)
        self.assertFalse(os.path.exists(gave_way[1]), "both starts on one folder ran setup")
        # One download per folder, none for the second start.
        self.assertEqual(len(self.downloads()), 3)
        self.assertEqual(len(self.manifest_requests()), 3)
        self.assertEqual(os.listdir(shared), ["KestrelumeSetup-1.4.2.exe"])

    def test_a_first_start_with_other_rights_keeps_the_folder(self):
        # The first installer was started "as administrator": its mutex lets
        # this start wait on it and no more. The second start, however it
        # spells the folder, leaves it to the first: no window, no request,
        # no file of its own.
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        for case, spelling in (("same spelling", lambda w: windows_path(w)),
                               ("another spelling", lambda w: windows_path(w).upper() + "\\.\\")):
            with self.subTest(case):
                work = os.path.join(self.folder, case.replace(" ", "-"))
                os.makedirs(work)
                ready = os.path.join(self.folder, case + ".ready")
                first = e2e.Installer(PREFIX, [windows_path(work), windows_path(ready)],
                                      self.folder, exe=e2e.FIRST_INSTALLER)
                self.addCleanup(first.kill)
                e2e.wait_for(lambda: os.path.exists(ready) or not first.running(), 20,
                             what="the first installer")
                self.assertTrue(first.running(), "the stand-in first installer ended")
                outcome = os.path.join(self.folder, case + ".outcome")
                args = ["--manifest-url", self.manifest_url(), "--work-dir", spelling(work),
                        "--outcome-file", windows_path(outcome)]
                with e2e.Installer(PREFIX, args, self.folder) as second:
                    self.assertEqual(second.wait(20), 0)
                self.assertIsNone(e2e.read_text(outcome))
                self.assertEqual(os.listdir(work), [])
                self.assertTrue(first.running())
                first.kill()
        self.assertEqual(self.server.requests(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
