"""Shared pieces of the end-to-end tests of the real installer.

The tests run KestrelumeInstaller.exe under Wine on an X display, against the
scriptable server of tests/support on 127.0.0.1, and drive its window with
real X input through xdotool. CTest passes the paths in the environment:

    KESTRELUME_INSTALLER     the installer executable
    KESTRELUME_FAKE_SETUP    the stand-in setup program
    KESTRELUME_FIRST_INSTALLER  a stand-in first installer with other rights
    KESTRELUME_BUILD_DIR     the build folder (private prefixes are made there)
    KESTRELUME_WINEPREFIX    the build's Wine prefix, copied for each test module
    KESTRELUME_WEBSITE_HOST  the product website host the build was made with

Every Wine process is started in its own process group and killed with it if
it outlives its test, so that a hung installer never hangs CTest.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get(
    "KESTRELUME_SOURCE_DIR",
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("KESTRELUME_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "dev"))
INSTALLER = os.environ.get("KESTRELUME_INSTALLER", os.path.join(BUILD_DIR, "KestrelumeInstaller.exe"))
FAKE_SETUP = os.environ.get("KESTRELUME_FAKE_SETUP", os.path.join(BUILD_DIR, "fake_setup.exe"))
FIRST_INSTALLER = os.environ.get("KESTRELUME_FIRST_INSTALLER",
                                 os.path.join(BUILD_DIR, "first_installer.exe"))
BUILD_PREFIX = os.environ.get("KESTRELUME_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
WEBSITE_HOST = os.environ.get("KESTRELUME_WEBSITE_HOST", "kestrelume.com")
TOOLS = os.path.join(SOURCE_DIR, "tools")

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))
from release_server import ReleaseServer, windows_path  # noqa: E402

WINDOW_TITLE = "Kestrelume Installer"
OFFLINE_TITLE = "Can't reach us"
RETIRED_TITLE = "Out of date"
BLOCKED_TITLE = "Setup blocked"


# --- X display -------------------------------------------------------------

_own_xvfb = None


def ensure_display():
    """Uses the caller's DISPLAY, or starts a private Xvfb for this process.

    KESTRELUME_OWN_DISPLAY=1 (CTest sets it, since it runs these modules side
    by side) always asks for a private one: another module's windows on the
    same screen would cover this one's in screenshots and take its keys."""
    global _own_xvfb
    if os.environ.get("DISPLAY") and os.environ.get("KESTRELUME_OWN_DISPLAY") != "1":
        return
    line = subprocess.run([os.path.join(TOOLS, "xvfb-start")], check=True, capture_output=True,
                          text=True, stdin=subprocess.DEVNULL, timeout=30).stdout.split()
    os.environ["DISPLAY"] = line[0]
    _own_xvfb = int(line[1])


def stop_own_display():
    global _own_xvfb
    if _own_xvfb:
        try:
            os.kill(_own_xvfb, signal.SIGTERM)
        except ProcessLookupError:
            pass
        _own_xvfb = None


def open_module_prefix():
    """The display and the prefix copy that one test module shares; for
    setUpModule. A private Xvfb does not outlive a prefix that failed."""
    ensure_display()
    try:
        return WinePrefix()
    except BaseException:
        stop_own_display()
        raise


def close_module_prefix(prefix):
    """Undoes open_module_prefix; for tearDownModule. prefix may be None."""
    if prefix:
        prefix.close()
    stop_own_display()


# --- Wine prefixes ---------------------------------------------------------

def _leave_out_scratch(folder, names):
    """For copytree: the contents of a prefix's temporary folders (users' and
    Windows'). The tests that run in the build's prefix meanwhile make and
    delete files there while a copy is taken, and those are no part of it."""
    parts = folder.lower().split(os.sep)[-4:]
    scratch = parts[-3:] == ["drive_c", "windows", "temp"] or (
        parts[:2] == ["drive_c", "users"] and parts[3] == "temp")
    return names if scratch else []


class WinePrefix:
    """A private copy of the build's prefix with its own wineserver.

    The copy hard-links the prefix's files, which nothing here writes, and
    takes real copies of those that Wine rewrites, so the build's prefix
    never changes. close() stops its wineserver and deletes it.
    """

    def __init__(self, dpi=96):
        self.path = tempfile.mkdtemp(prefix="e2e-wineprefix-", dir=BUILD_DIR)
        try:
            shutil.copytree(BUILD_PREFIX, self.path, symlinks=True, copy_function=os.link,
                            ignore=_leave_out_scratch, dirs_exist_ok=True)
            # Real copies of what Wine rewrites: the registry, and the file
            # that names the folder of the prefix's server socket.
            for name in ("system.reg", "user.reg", "userdef.reg", "wineserver"):
                source = os.path.join(BUILD_PREFIX, name)
                if os.path.exists(source):
                    shutil.copyfile(source, os.path.join(self.path, name + ".copy"))
                    os.replace(os.path.join(self.path, name + ".copy"), os.path.join(self.path, name))
            # Held until close(): a server that ended after a minute idle
            # (while another class's prefix was in use, say) would leave the
            # next test to start the prefix's whole session from cold.
            self._tool("--hold-server")
            # No window manager runs on the test display. A managed window
            # would make Wine wait up to 2 s for one to withdraw it whenever
            # it closes, which is no part of the installer's own timing.
            self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
            if dpi != 96:
                self.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi))
                # Wine 10 gives each monitor the DPI that the prefix's desktop
                # process had when it started (Wine 8 uses the setting as it
                # is): start the session again so that the monitor has it too.
                self._tool("--stop")
                self._tool("--hold-server")
        except BaseException:
            self.close()
            raise

    def _tool(self, mode):
        subprocess.run([os.path.join(TOOLS, "wine-prefix"), mode, self.path], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        env.update(extra)
        return env

    def reg_add(self, key, name, kind, data):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                       env=self.env(), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def record_browser(self, folder):
        """Points Wine's browser at a script that appends each address it is
        given to a file; returns a function that reads the addresses."""
        log = os.path.join(folder, "browser.log")
        script = os.path.join(folder, "browser.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >> '%s'\n" % log)
        os.chmod(script, 0o755)
        self.reg_add(r"HKCU\Software\Wine\WineBrowser", "Browsers", "REG_SZ", script)

        def opened():
            if not os.path.exists(log):
                return []
            with open(log) as f:
                return f.read().splitlines()
        return opened

    def close(self):
        try:
            # Asked directly: it finds its own server wherever this Wine build
            # keeps the socket, and returns once the server has saved the
            # registry and gone, so the folder can go after it. Asked until
            # it finds none, in case a second server started in a race.
            for _ in range(3):
                if subprocess.run(["wineserver", "-k"], env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=30).returncode != 0:
                    break
        finally:
            shutil.rmtree(self.path, ignore_errors=True)


# --- the installer process -------------------------------------------------

class Installer:
    """One run of the real executable; use as a context manager so that the
    run is always ended."""

    def __init__(self, prefix, args, folder, exe=INSTALLER, trace=None, **env):
        self.stderr_path = os.path.join(folder, "wine-stderr-%d.txt" % time.monotonic_ns())
        self.stderr = open(self.stderr_path, "w")
        environment = prefix.env(**env)
        # Wine's errors, and a message box's text as it opens: what a failure
        # prints ("Wine said") when the installer ends before its window.
        environment["WINEDEBUG"] = trace or "err+all,fixme-all,trace+msgbox"
        self.process = subprocess.Popen(
            ["wine", exe] + list(args), env=environment, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=self.stderr, start_new_session=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()

    def owns(self, window):
        # Wine gives its X windows the process id of the Wine process.
        return xdotool("getwindowpid", window).strip() == str(self.process.pid)

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The exit code; a run that outlives the timeout fails the test."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("the installer was still running after %.1f s" % timeout)

    def kill(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(10)
        self.stderr.close()

    def stderr_tail(self, lines=8):
        self.stderr.flush()
        with open(self.stderr_path, errors="replace") as f:
            return " | ".join(f.read().splitlines()[-lines:]) or "nothing"

    def count_in_stderr(self, text):
        self.stderr.flush()
        with open(self.stderr_path, errors="replace") as f:
            return sum(1 for line in f if text in line)


def run_to_outcome(prefix, args, folder, timeout=30, **kw):
    """Runs with --outcome-file until the program ends; (exit code, token)."""
    outcome = os.path.join(folder, "outcome")
    if os.path.exists(outcome):
        os.remove(outcome)
    with Installer(prefix, list(args) + ["--outcome-file", windows_path(outcome)], folder, **kw) as run:
        code = run.wait(timeout)
    return code, read_text(outcome)


def read_text(path):
    """The file's text, or None when there is no such file."""
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        return f.read()


def wait_for(condition, timeout, step=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(step)


# --- the window, through xdotool -------------------------------------------

def xdotool(*args):
    result = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, timeout=20)
    return result.stdout


def windows_named(title):
    return xdotool("search", "--onlyvisible", "--name", "^%s$" % title).split()


def find_window(title, run, timeout=20):
    """The run's X window with exactly this caption, once it is visible."""
    def found():
        if not run.running():
            raise AssertionError("the installer ended (exit code %s) before showing %r; "
                                 "Wine said: %s" % (run.process.returncode, title, run.stderr_tail()))
        return [w for w in windows_named(title) if run.owns(w)]
    return wait_for(found, timeout, what="a window named %r" % title)[0]


def geometry(window):
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window).splitlines():
        key, _, value = line.partition("=")
        values[key] = int(value) if value.lstrip("-").isdigit() else value
    return values


def screen_size():
    width, height = xdotool("getdisplaygeometry").split()
    return int(width), int(height)


def move_pointer(x, y):
    # "--sync" waits for a motion event, and there is none when the pointer
    # is already there.
    location = dict(item.split(":") for item in xdotool("getmouselocation").split()[:2])
    if (int(location["x"]), int(location["y"])) != (x, y):
        xdotool("mousemove", "--sync", x, y)


def park_mouse():
    """Off the window, so that no hover look or repaint comes from the pointer."""
    move_pointer(0, 0)


class WindowPoint:
    """Converts layout positions in DIPs to screen pixels of a window."""

    def __init__(self, window):
        self.window = window
        self.geometry = geometry(window)
        self.scale = self.geometry["WIDTH"] / 320.0

    def screen(self, x, y):
        return (self.geometry["X"] + round(x * self.scale), self.geometry["Y"] + round(y * self.scale))

    def click(self, x, y):
        move_pointer(*self.screen(x, y))
        xdotool("click", 1)

    def press(self, x, y):
        move_pointer(*self.screen(x, y))
        xdotool("mousedown", 1)

    def release(self, x, y):
        move_pointer(*self.screen(x, y))
        xdotool("mouseup", 1)

    def key(self, name):
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", name)


def screenshot(window, path):
    """The window's pixels from a picture of the root window. With
    KESTRELUME_E2E_PICTURES set, a copy is kept in that folder."""
    from PIL import Image
    whole = path + ".root.png"
    subprocess.run(["import", "-window", "root", whole], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    g = geometry(window)
    image = Image.open(whole).convert("RGB").crop((g["X"], g["Y"], g["X"] + g["WIDTH"], g["Y"] + g["HEIGHT"]))
    image.save(path)
    os.remove(whole)
    keep = os.environ.get("KESTRELUME_E2E_PICTURES")
    if keep:
        os.makedirs(keep, exist_ok=True)
        shutil.copyfile(path, os.path.join(keep, os.path.basename(path)))
    return image


def button_pair(image, scale):
    """Finds the two buttons of a failure screen in a picture of the window.

    The primary button is the gold pill on the right, the secondary the
    outlined one on the left, both from y 288 to 320. Returns (secondary,
    primary) as (left, right) pairs in DIPs, measured on the picture.
    """
    def row(y):
        yy = round(y * scale)
        return [image.getpixel((x, yy)) for x in range(image.width)]

    # Above the labels the primary pill is solid gold from edge to edge
    # (less the rounding of its corners).
    fill = row(292)
    gold = [x for x, (r, g, b) in enumerate(fill) if r > 120 and r - b > 40]
    if not gold:
        raise AssertionError("no primary button in the picture")
    # The outline of the secondary pill is faint but clearly above the backdrop.
    middle = row(304)
    backdrop = max(middle[1])
    marked = [x for x, pixel in enumerate(middle) if max(pixel) > backdrop + 20]
    if not marked or marked[0] >= gold[0]:
        raise AssertionError("no secondary button left of the primary")
    # At y 292 a pill of radius 16 starts 16 - sqrt(16^2 - 12^2) = 5.4 DIPs in.
    inset = 16 - (16 ** 2 - 12 ** 2) ** 0.5
    primary = (gold[0] / scale - inset, (gold[-1] + 1) / scale + inset)
    secondary = (marked[0] / scale, primary[0] - 8)
    return secondary, primary


def centre(span):
    return (span[0] + span[1]) / 2.0


def new_folder(test):
    """A fresh folder for one test, removed when it ends."""
    folder = tempfile.mkdtemp(prefix="kestrelume-e2e-")
    test.addCleanup(shutil.rmtree, folder, True)
    return folder


class ServerTest(unittest.TestCase):
    """A test with its own folder and its own release server."""

    def setUp(self):
        self.folder = new_folder(self)
        self.server = ReleaseServer()
        self.addCleanup(shutil.rmtree, self.server.folder, True)
        self.addCleanup(self.server.close)

    def manifest_url(self):
        return self.server.url("/update/stable.json")

    def downloads(self):
        return [r for r in self.server.requests() if r[0].startswith("/releases/")]

    def manifest_requests(self):
        return [r for r in self.server.requests() if r[0] == "/update/stable.json"]
