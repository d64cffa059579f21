#!/usr/bin/python3
"""The real installer's window to assistive technology, under Wine: an MSAA
and UI Automation client in another process reads each screen and follows
its events, real keys move the keyboard focus and its ring, and the snapshot
pictures use the system colours in high contrast."""

import os
import subprocess
import threading
import queue
import time
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app"))
import e2e_support as e2e  # noqa: E402
from e2e_support import windows_path  # noqa: E402

CLIENT = os.environ.get("KESTRELUME_ACCESSIBILITY_CLIENT",
                        os.path.join(e2e.BUILD_DIR, "accessibility_client.exe"))
PREFIX = None

# MSAA roles and UI Automation control types.
TEXT, PROGRESS, BUTTON, LINK = 41, 48, 43, 30
UIA_TEXT, UIA_PROGRESS, UIA_BUTTON, UIA_LINK = 50020, 50012, 50000, 50005
VALUE_CHANGE, FOCUS, LIVE_REGION = 0x800E, 0x8005, 0x8019
CHUNKS_BEFORE_BREAK = 96  # of 64 KiB, half of the 12 MiB download


def setUpModule():
    global PREFIX
    PREFIX = e2e.open_module_prefix()


def tearDownModule():
    e2e.close_module_prefix(PREFIX)


class Client:
    """accessibility_client.exe under Wine: one command, one answer line;
    WinEvent lines are collected on the side."""

    def __init__(self, prefix):
        self.process = subprocess.Popen(["wine", CLIENT], env=prefix.env(), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True, encoding="utf-8", start_new_session=True)
        self.lines = queue.Queue()
        self.events = []
        threading.Thread(target=self._read, daemon=True).start()
        self._answer("ready", 30)

    def _read(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            if line.startswith("event "):
                _, event, child = line.split()
                self.events.append((int(event, 16), int(child)))
            else:
                self.lines.put(line)

    def _answer(self, word, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("the client gave no %r answer" % word)
            if line.split(" ", 1)[0] == word:
                return line
            if time.monotonic() > deadline:
                raise AssertionError("the client gave no %r answer" % word)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self._answer(command.split()[0])

    def tree(self):
        """[(role, name, value or None, state)] of the client area's children."""
        items = []
        for part in self.ask("tree").split(" | ")[1:]:
            head, state = part.rsplit(" [", 1)
            role, rest = head.split(" ", 1)
            name, _, value = rest.partition(" = ")
            items.append((int(role), name, value or None, int(state.rstrip("]"))))
        return items

    def uia(self):
        """[(name, control type, live setting)] of the UI Automation children."""
        items = []
        for part in self.ask("uia").split(" | ")[1:]:
            name, kind, live = part.rsplit(" : ", 2)
            items.append((name, int(kind), int(live)))
        return items

    def uia_settled(self, expected, timeout=5):
        """The UI Automation children, asked again until they read as
        expected: on a loaded machine Wine's cross-process call for one
        element may give up (it reads ('', -1, -1)). The first read that
        differs is printed, so that a retry never hides what it retried."""
        items = self.uia()
        if items != expected:
            print("\nUI Automation, first read: %r" % (items,))
            deadline = time.monotonic() + timeout
            while items != expected and time.monotonic() < deadline:
                time.sleep(0.2)
                items = self.uia()
        return items

    def wait_for_tree(self, test, timeout=20):
        return e2e.wait_for(lambda: (lambda t: t if test(t) else None)(self.tree()), timeout,
                            step=0.1, what="a screen in the MSAA tree")

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.process.pid, 9)
                self.process.wait(10)
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass


def roles_and_names(tree):
    return [(role, name) for role, name, _, _ in tree]


def title_is(text):
    return lambda tree: tree and tree[0][1].startswith(text)


class AccessibilityTest(e2e.ServerTest):

    def setUp(self):
        super().setUp()
        e2e.park_mouse()
        self.work = os.path.join(self.folder, "work")

    def start(self, client=True):
        args = ["--manifest-url", self.manifest_url(), "--work-dir", windows_path(self.work)]
        run = e2e.Installer(PREFIX, args, self.folder)
        self.addCleanup(run.kill)
        if not client:
            return run, None
        reader = Client(PREFIX)
        self.addCleanup(reader.close)
        return run, reader

    def test_a_screen_reader_reads_checking_downloading_and_offline_and_retries(self):
        setup = os.path.join(self.folder, "setup.exe")
        with open(setup, "wb") as f:
            f.write(os.urandom(12 * 1024 * 1024))
        self.server.publish(setup, version="2.0.1")
        # The manifest is held until the checking screen has been read (a
        # client's walk through the tree takes seconds under Wine, more on a
        # loaded machine); the download runs for some 6 s and breaks off half
        # way, which is the offline screen.
        self.server.route("/update/stable.json", body_file=os.path.join(self.server.folder, "stable.json"),
                          gate="checking-read")
        self.server.route("/releases/KestrelumeSetup-2.0.1.exe", body_file=setup, chunk=65536,
                          delay_ms=70, reset_after=CHUNKS_BEFORE_BREAK * 65536)
        run, client = self.start()

        checking = client.wait_for_tree(title_is("Getting ready"), 10)
        self.assertEqual(roles_and_names(checking), [
            (TEXT, "Getting ready"), (TEXT, "finding the latest version"), (LINK, "Cancel"),
            (BUTTON, "Close")])
        expected = [("Getting ready", UIA_TEXT, -1), ("finding the latest version", UIA_TEXT, -1),
                    ("Cancel", UIA_LINK, -1), ("Close", UIA_BUTTON, -1)]
        self.assertEqual(client.uia_settled(expected), expected)
        self.server.open_gate("checking-read")

        downloading = client.wait_for_tree(title_is("Downloading"), 20)
        # Each child is asked separately, so the value may have moved on
        # since the title was read.
        percent = int(downloading[0][1].rsplit(" ", 1)[1].rstrip("%"))
        self.assertEqual(downloading[2][:2], (PROGRESS, "Download progress"))
        self.assertRegex(downloading[2][2], r"^\d+%$")
        self.assertIn(int(downloading[2][2].rstrip("%")), range(percent, percent + 10))
        self.assertEqual([(r, n) for r, n in roles_and_names(downloading)[3:]],
                         [(LINK, "Cancel"), (BUTTON, "Close")])
        e2e.wait_for(lambda: ("Download progress", UIA_PROGRESS, -1) in client.uia(), 5, step=0.2,
                     what="the progress bar in the UI Automation tree")

        # The break is met three times: the first attempt and two reconnects
        # that bring the file no further (the server knows no ranges).
        offline = client.wait_for_tree(title_is(e2e.OFFLINE_TITLE), 45)
        self.assertEqual(roles_and_names(offline), [
            (TEXT, e2e.OFFLINE_TITLE), (TEXT, "Check your connection, or get the offline installer."),
            (BUTTON, "Offline installer"), (BUTTON, "Try again"), (BUTTON, "Close")])
        # The title is an assertive live region, announced when it appears.
        offline_uia = [(e2e.OFFLINE_TITLE, UIA_TEXT, 2),
                       ("Check your connection, or get the offline installer.", UIA_TEXT, -1),
                       ("Offline installer", UIA_BUTTON, -1), ("Try again", UIA_BUTTON, -1),
                       ("Close", UIA_BUTTON, -1)]
        self.assertEqual(client.uia_settled(offline_uia), offline_uia)
        e2e.wait_for(lambda: (LIVE_REGION, 1) in client.events, 5, what="the live-region event")
        # One value event per whole percentage, not one per 64 KiB chunk: the
        # 96 chunks before each of the three breaks cover 50 percentages.
        values = [e for e in client.events if e == (VALUE_CHANGE, 3)]
        print("\nvalue events while downloading: %d for 3 x %d chunks" % (len(values), CHUNKS_BEFORE_BREAK))
        self.assertGreater(len(values), 5)
        self.assertLessEqual(len(values), 3 * 51)

        # The manifest is held again, so that the checking screen stays up.
        self.server.route("/update/stable.json", body_file=os.path.join(self.server.folder, "stable.json"),
                          gate="retry-read")
        self.assertEqual(client.ask("do Try again"), "do 0x00000000")
        client.wait_for_tree(title_is("Getting ready"), 10)
        self.server.open_gate("retry-read")
        self.assertEqual(len(self.manifest_requests()), 2)
        self.assertTrue(run.running())

    def test_tab_space_and_enter_move_and_use_the_keyboard_focus(self):
        # Every manifest request fails: the offline screen, again and again.
        self.server.route("/update/stable.json", reset_before_headers=1)
        run, client = self.start()
        window = e2e.find_window(e2e.OFFLINE_TITLE, run)
        client.wait_for_tree(title_is(e2e.OFFLINE_TITLE))
        point = e2e.WindowPoint(window)
        requests = lambda: len(self.manifest_requests())

        no_ring = e2e.screenshot(window, os.path.join(self.folder, "offline-no-focus.png"))
        self.assertEqual(client.ask("focus"), "focus 0")  # the client area, no element
        steps = [("Tab", 3), ("Tab", 4), ("Tab", 5), ("Tab", 3), ("shift+Tab", 5), ("shift+Tab", 4)]
        for key, child in steps:
            point.key(key)
            e2e.wait_for(lambda: client.ask("focus") == "focus %d" % child, 5, what="focus on %d" % child)
            self.assertIn((FOCUS, child), client.events)
        self.assertEqual(client.tree()[3][3] & 0x4, 0x4)  # STATE_SYSTEM_FOCUSED on "Try again"

        # The ring: 3 to 5 DIPs outside the focused "Try again" button.
        ring = e2e.screenshot(window, os.path.join(self.folder, "offline-focus-try-again.png"))
        button = [item for item in client.tree() if item[1] == "Try again"]
        self.assertTrue(button)
        secondary, primary = e2e.button_pair(no_ring, point.scale)
        y = round(304 * point.scale)
        for x_dip in (primary[0] - 4, primary[1] + 4):
            x = round(x_dip * point.scale)
            lit = max(max(ring.getpixel((x + dx, y))) for dx in (-1, 0, 1))
            dark = max(max(no_ring.getpixel((x + dx, y))) for dx in (-1, 0, 1))
            self.assertGreater(lit, 150, "no focus ring at x %.1f" % x_dip)
            self.assertLess(dark, 60)

        point.key("space")  # "Try again": a new run, whose new screen drops the focus
        e2e.wait_for(lambda: requests() == 2, 10, what="a second run")
        e2e.wait_for(lambda: client.ask("focus") == "focus 0", 5, what="the focus dropped")
        point.key("Return")  # no focus: Enter is the primary button again
        e2e.wait_for(lambda: requests() == 3, 10, what="a third run")
        client.wait_for_tree(title_is(e2e.OFFLINE_TITLE))
        point.key("shift+Tab")  # the close glyph
        e2e.wait_for(lambda: client.ask("focus") == "focus 5", 5, what="focus on the close glyph")
        point.key("Return")
        self.assertEqual(run.wait(10), 0)
        self.assertEqual(requests(), 3)


class HighContrastTest(unittest.TestCase):
    # A black scheme with a colour of its own for each system pair.
    COLOURS = {"Window": (0, 0, 0), "WindowText": (255, 255, 255), "Hilight": (26, 235, 255),
               "HilightText": (0, 0, 0), "GrayText": (63, 242, 63), "ButtonText": (255, 255, 0)}

    def test_snapshots_use_only_the_system_colours(self):
        from PIL import Image
        prefix = e2e.WinePrefix()
        self.addCleanup(prefix.close)
        folder = e2e.new_folder(self)
        scheme = os.path.join(folder, "colours.reg")
        with open(scheme, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Colors]\n")
            f.writelines('"%s"="%d %d %d"\n' % ((name,) + rgb) for name, rgb in self.COLOURS.items())
        subprocess.run(["wine", "regedit", "/S", windows_path(scheme)], env=prefix.env(), check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        with e2e.Installer(prefix, ["--snapshot-dir", windows_path(folder), "--high-contrast", "on"],
                           folder) as run:
            self.assertEqual(run.wait(60), 0)
        keep = os.environ.get("KESTRELUME_E2E_PICTURES")
        pictures = {}
        for name in ("02-downloading", "05-offline"):
            path = os.path.join(folder, name + ".png")
            pictures[name] = Image.open(path).convert("RGB")
            if keep:
                os.makedirs(keep, exist_ok=True)
                pictures[name].save(os.path.join(keep, "high-contrast-" + name + ".png"))
        c = self.COLOURS
        # Pictures are at scale 2.
        def at(picture, x, y):
            return pictures[picture].getpixel((round(x * 2), round(y * 2)))
        for picture in pictures:
            self.assertEqual(at(picture, 4, 4), c["Window"])  # flat backdrop, no gradient
            self.assertEqual(at(picture, 160, 300 - 250), c["Window"])
            strays = [rgb for _, rgb in pictures[picture].getcolors(1 << 20) if not self.blend(rgb)]
            self.assertEqual(strays[:5], [], "colours that are no blend of two system colours")
        self.assertEqual(at("02-downloading", 160 + 66, 112), c["Hilight"])  # arc at three o'clock
        self.assertEqual(at("02-downloading", 160 - 66, 112), c["ButtonText"])  # track
        self.assertEqual(at("05-offline", 250, 292), c["Hilight"])  # primary button fill
        # The secondary button's outline is the first thing from the left at
        # its middle.
        row = [at("05-offline", x / 2, 304) for x in range(0, 640)]
        self.assertEqual(next(p for p in row if p != c["Window"]), c["ButtonText"])

    def blend(self, rgb):
        """A system colour, or an antialiasing mix of two (within 12 levels)."""
        colours = list(self.COLOURS.values())
        for a in colours:
            for b in colours:
                d = [b[i] - a[i] for i in range(3)]
                length = sum(v * v for v in d)
                t = 0 if length == 0 else max(0.0, min(1.0, sum((rgb[i] - a[i]) * d[i] for i in range(3)) / length))
                if all(abs(rgb[i] - (a[i] + d[i] * t)) <= 12 for i in range(3)):
                    return True
        return False


if __name__ == "__main__":
    unittest.main(verbosity=2)
