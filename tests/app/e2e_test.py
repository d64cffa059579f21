#!/usr/bin/python3
"""Whole runs of the real installer under Wine against a local release server,
judged by the outcome token the development build writes, the files in its
work folder, what the server was asked for and what the setup program saw."""

import hashlib
import http.server
import os
import shutil
import socket
import subprocess
import threading
import unittest
import urllib.error
import urllib.request

import e2e_support as e2e
from e2e_support import windows_path

PREFIX = None


def setUpModule():
    global PREFIX
    PREFIX = e2e.open_module_prefix()


def tearDownModule():
    e2e.close_module_prefix(PREFIX)


def read_record(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class InstallTest(e2e.ServerTest):

    def run_installer(self, work_dir, exe=e2e.INSTALLER, manifest_url=None, **env):
        args = ["--manifest-url", manifest_url or self.manifest_url(), "--work-dir", windows_path(work_dir)]
        return e2e.run_to_outcome(PREFIX, args, self.folder, exe=exe, **env)

    def test_release_is_downloaded_verified_started_and_then_reused_from_the_cache(self):
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        # A space in the folder shows that the setup path is quoted.
        work = os.path.join(self.folder, "local app", "updates")
        record = os.path.join(self.folder, "setup-record.txt")
        setup = os.path.join(work, "KestrelumeSetup-1.4.2.exe")

        for attempt in ("first", "second"):
            with self.subTest(attempt):
                if os.path.exists(record):
                    os.remove(record)
                code, token = self.run_installer(
                    work, KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
                self.assertEqual(code, 0)
                self.assertEqual(token, "launched")
                # The setup program runs on after the installer has gone.
                e2e.wait_for(lambda: os.path.exists(record) and len(read_record(record)) == 2, 15,
                             what="the setup program's record")
                self.assertEqual(read_record(record),
                                 ['"%s"' % windows_path(setup), windows_path(work)])
                self.assertEqual(sorted(os.listdir(work)), ["KestrelumeSetup-1.4.2.exe"])
                self.assertEqual(sha256_of(setup), sha256_of(e2e.FAKE_SETUP))

        requests = self.server.requests()
        self.assertEqual([r[0] for r in requests].count("/update/stable.json"), 2)
        self.assertEqual([r[0] for r in requests].count("/update/stable.json.sig"), 2)
        # One download only: the second run found the verified file.
        self.assertEqual([(r[0], r[1]) for r in self.downloads()],
                         [("/releases/KestrelumeSetup-1.4.2.exe", "via=bootstrap")])
        self.assertEqual({r[2] for r in requests}, {"KestrelumeInstaller/1"})

    def test_each_failure_ends_with_its_outcome_and_leaves_no_download(self):
        not_a_program = os.path.join(self.folder, "not-a-program.exe")
        with open(not_a_program, "wb") as f:
            f.write(b"This is text, not a Windows program.\n" * 2000)
        a_file = os.path.join(self.folder, "a-file")
        with open(a_file, "w") as f:
            f.write("in the way\n")
        closed_port = socket.socket()
        closed_port.bind(("127.0.0.1", 0))
        closed_url = "http://127.0.0.1:%d/update/stable.json" % closed_port.getsockname()[1]
        closed_port.close()  # nothing listens there any more

        cases = [
            ("verify", dict(tamper=True), None, None),
            ("offline", {}, None, closed_url),
            ("disk", {}, os.path.join(a_file, "updates"), None),
            ("retired", dict(bootstrap_min=99), None, None),
            ("blocked", {}, None, None),
        ]
        for token, publish, work, url in cases:
            with self.subTest(token):
                self.server.reset()
                setup = not_a_program if token == "blocked" else e2e.FAKE_SETUP
                self.server.publish(setup, version="1.4.2", **publish)
                work_dir = work or os.path.join(self.folder, "work-" + token)
                record = os.path.join(self.folder, "record-" + token)
                code, outcome = self.run_installer(
                    work_dir, manifest_url=url, KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
                self.assertEqual(code, 0)
                self.assertEqual(outcome, token)
                self.assertFalse(os.path.exists(record), "a setup program ran")
                if token == "blocked":
                    # Verified and kept; only the start was refused.
                    cached = os.path.join(work_dir, "KestrelumeSetup-1.4.2.exe")
                    self.assertEqual(os.listdir(work_dir), ["KestrelumeSetup-1.4.2.exe"])
                    self.assertEqual(sha256_of(cached), sha256_of(not_a_program))
                else:
                    self.assertEqual(self.downloads(), [])
                    self.assertFalse(os.path.isdir(work_dir) and os.listdir(work_dir))
                if token == "offline":
                    self.assertEqual(self.server.requests(), [])
                if token == "disk":
                    self.assertEqual(e2e.read_text(a_file), "in the way\n")

    def test_attribution_tags_from_the_file_name_name_the_cached_setup_but_no_request(self):
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        tagged = os.path.join(self.folder, "copies", "KestrelumeInstaller.src-spring.t-a1.exe")
        os.makedirs(os.path.dirname(tagged))
        shutil.copyfile(e2e.INSTALLER, tagged)
        work = os.path.join(self.folder, "work")
        record = os.path.join(self.folder, "record")

        code, token = self.run_installer(work, exe=tagged,
                                         KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
        self.assertEqual(code, 0)
        self.assertEqual(token, "launched")
        name = "KestrelumeSetup-1.4.2.src-spring.t-a1.exe"
        self.assertEqual(os.listdir(work), [name])
        e2e.wait_for(lambda: os.path.exists(record) and len(read_record(record)) == 2, 15,
                     what="the setup program's record")
        self.assertEqual(read_record(record)[0], '"%s"' % windows_path(os.path.join(work, name)))
        # The tags stay local: the download carries the installer's marker only.
        self.assertEqual([(r[0], r[1]) for r in self.server.requests()],
                         [("/update/stable.json", ""), ("/update/stable.json.sig", ""),
                          ("/releases/KestrelumeSetup-1.4.2.exe", "via=bootstrap")])

    def other_host_listener(self):
        """A listener on another loopback address, reachable had the installer
        accepted plain http to a host other than 127.0.0.1 or localhost;
        (its port, the paths it was asked for)."""
        seen = []

        class Recorder(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                seen.append(self.path)
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        listener = http.server.ThreadingHTTPServer(("127.0.0.2", 0), Recorder)
        threading.Thread(target=listener.serve_forever, daemon=True).start()
        self.addCleanup(listener.server_close)
        self.addCleanup(listener.shutdown)
        port = listener.server_address[1]
        try:
            urllib.request.urlopen("http://127.0.0.2:%d/probe" % port, timeout=5)
        except urllib.error.HTTPError as answer:
            answer.close()
        self.assertEqual(seen, ["/probe"], "the listener on 127.0.0.2 is not reachable")
        seen.clear()
        return port, seen

    def test_plain_http_manifest_address_on_another_host_is_ignored(self):
        port, seen = self.other_host_listener()
        local = self.server.url("")  # http://127.0.0.1:PORT
        other = "127.0.0.2:%d/update/stable.json" % port
        addresses = [
            "http://" + other,
            # WinHTTP takes all before an "@" up to the first "/" for user
            # information, also after a "?" or "#".
            "http://localhost#@" + other,
            "http://127.0.0.1?@" + other,
            local + "?x=@" + other,
            local + "#@" + other,
        ]
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        for url in addresses:
            with self.subTest(url):
                code, token = self.run_installer(os.path.join(self.folder, "work"), manifest_url=url)
                self.assertEqual(code, 0)
                # The built-in https address is used instead, and it cannot be
                # reached from this machine.
                self.assertEqual(token, "offline")
                self.assertEqual(seen, [])
                self.assertEqual(self.server.requests(), [])

    def test_a_signed_download_address_that_hides_another_host_is_refused(self):
        port, seen = self.other_host_listener()
        setup = "127.0.0.2:%d/releases/KestrelumeSetup-1.4.2.exe" % port
        local = self.server.url("")
        for member, value in [("url", "http://localhost#@" + setup),
                              ("url", local + "?x=@" + setup),
                              ("mirror", "http://127.0.0.1#@" + setup)]:
            with self.subTest(member=member, value=value):
                self.server.reset()
                fields = {member: value}
                if member == "mirror":
                    fields["url"] = self.server.url("/releases/missing.exe")
                self.server.publish(e2e.FAKE_SETUP, version="1.4.2", **fields)
                work = os.path.join(self.folder, "work")
                code, token = self.run_installer(work)
                self.assertEqual((code, token), (0, "verify"))
                self.assertEqual(seen, [])
                self.assertEqual(self.downloads(), [])
                self.assertFalse(os.path.isdir(work) and os.listdir(work))

    def test_a_refused_setup_program_is_started_once_per_run(self):
        # Large enough for many progress messages to be queued when the
        # download ends.
        not_a_program = os.path.join(self.folder, "not-a-program.exe")
        with open(not_a_program, "wb") as f:
            f.write(b"This is text, not a Windows program.\n" * 140000)
        self.server.publish(not_a_program, version="1.4.2")
        work = os.path.join(self.folder, "work")
        setup = "KestrelumeSetup-1.4.2.exe"
        for attempt in ("fresh download", "cached copy"):
            with self.subTest(attempt):
                outcome = os.path.join(self.folder, "outcome")
                if os.path.exists(outcome):
                    os.remove(outcome)
                args = ["--manifest-url", self.manifest_url(), "--work-dir", windows_path(work),
                        "--outcome-file", windows_path(outcome)]
                # +process prints one line for each CreateProcess call.
                with e2e.Installer(PREFIX, args, self.folder, trace="+process") as run:
                    self.assertEqual(run.wait(60), 0)
                    self.assertEqual(e2e.read_text(outcome), "blocked")
                    with open(run.stderr_path, errors="replace") as f:
                        starts = [line for line in f if "CreateProcessInternalW app" in line]
                self.assertEqual(len(starts), 1, "".join(starts)[:2000])
                self.assertIn(setup, starts[0])
                self.assertEqual(os.listdir(work), [setup])
        self.assertEqual(len(self.downloads()), 1)

    def test_no_planted_library_is_loaded_and_the_install_still_completes(self):
        # The probe imports winhttp.dll at load time: its planted copy is taken.
        probe_folder = os.path.join(self.folder, "probe")
        probe = plant_beside(probe_folder, os.environ["KESTRELUME_IMPORT_PROBE"])
        subprocess.run(["wine", probe], env=PREFIX.env(WINEDLLOVERRIDES=PLANTED_OVERRIDES), timeout=30,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertIn("winhttp.dll.loaded", markers(probe_folder))

        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        downloads = os.path.join(self.folder, "Downloads")
        installer = plant_beside(downloads, e2e.INSTALLER)
        code, token = self.run_installer(os.path.join(self.folder, "work"), exe=installer,
                                         WINEDLLOVERRIDES=PLANTED_OVERRIDES)
        self.assertEqual((code, token), (0, "launched"))
        self.assertEqual(markers(downloads), [])

    def test_without_direct2d_or_directwrite_it_says_so_and_asks_the_server_nothing(self):
        # Nothing could be drawn: no window is shown, so no run starts; a
        # message box says what could not be set up. Wine's d2d1 does not need
        # dwrite, so each can go missing alone.
        self.server.publish(e2e.FAKE_SETUP, version="1.4.2")
        for library in ("d2d1", "dwrite"):
            with self.subTest(library=library):
                work = os.path.join(self.folder, "work-" + library)
                args = ["--manifest-url", self.manifest_url(), "--work-dir", windows_path(work)]
                with e2e.Installer(PREFIX, args, self.folder, trace="trace+msgbox",
                                   WINEDLLOVERRIDES="mscoree,mshtml=;%s=d" % library) as run:
                    box = e2e.find_window(e2e.WINDOW_TITLE, run)
                    # Wine's message box traces its text as it opens.
                    e2e.wait_for(lambda: run.count_in_stderr("could not start"), 10,
                                 what="the message box's text")
                    self.assertEqual(run.count_in_stderr("its drawing (Direct2D)"), 1)
                    e2e.WindowPoint(box).key("Return")
                    self.assertEqual(run.wait(10), 1)
                self.assertEqual(self.server.requests(), [])
                self.assertFalse(os.path.exists(work))


# DLLs dropped beside the installer, as a web page can drop them into a
# Downloads folder. "n,b" makes Wine search the program's folder before its
# own copies, as Windows does for every library that is not a KnownDLL.
# (version.dll is left out: Wine's own user32 imports it.)
PLANTED = ("winhttp", "bcrypt", "d2d1", "dwrite", "windowscodecs", "dwmapi", "uxtheme")
PLANTED_OVERRIDES = "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED)


def plant_beside(folder, program):
    os.makedirs(folder)
    shutil.copy(program, folder)
    for name in PLANTED:
        shutil.copy(os.environ["KESTRELUME_MARKER_DLL"], os.path.join(folder, name + ".dll"))
    return os.path.join(folder, os.path.basename(program))


def markers(folder):
    return sorted(n.lower() for n in os.listdir(folder) if n.endswith(".loaded"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
