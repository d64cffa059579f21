#!/usr/bin/python3
"""The Windows acceptance kit (build/windows-kit) run under Wine as a tester
would run it on Windows: it must pass, say that it ran under Wine, mark what
Wine cannot show as not judged, and leave a report with pictures of the real
window. A kit whose releases have been spoiled must fail."""

import os
import shutil
import subprocess
import unittest

import e2e_support as e2e
from e2e_support import windows_path

KIT = os.environ.get("KESTRELUME_WINDOWS_KIT", os.path.join(e2e.SOURCE_DIR, "build", "windows-kit"))
SCENARIOS = ("launched", "cached copy", "tampered manifest", "wrong digest", "offline", "404 manifest",
             "mirror fallback", "retired", "windows too old", "disk", "blocked", "planted DLLs",
             "closing during a stalled download", "keyboard and screen reader", "through a proxy")
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
PREFIX = None


def setUpModule():
    global PREFIX
    PREFIX = e2e.open_module_prefix()


def tearDownModule():
    e2e.close_module_prefix(PREFIX)


def run_kit(kit, report, *args, timeout=330):
    """(exit code, text report). The console output goes to a file: a stray
    process holding a pipe must not hang the test."""
    e2e.park_mouse()
    console = os.path.join(report, "console.txt")
    try:
        with open(console, "w") as out:
            code = subprocess.run(
                ["wine", os.path.join(kit, "KestrelumeAcceptance.exe"), "--no-open", "--report-dir",
                 windows_path(report)] + list(args),
                env=PREFIX.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                timeout=timeout).returncode
    finally:
        # Also when it timed out: how far it got.
        with open(console, errors="replace") as f:
            print(f.read())
    with open(os.path.join(report, "acceptance-report.txt"), encoding="utf-8") as f:
        return code, f.read()


def user_proxy_values():
    """What `wine reg query` prints for each value the proxy scenario changes
    (None where the value is absent)."""
    values = {}
    for key, name in ((INTERNET_SETTINGS, "ProxyEnable"), (INTERNET_SETTINGS, "ProxyServer"),
                      (INTERNET_SETTINGS, "ProxyOverride"),
                      (INTERNET_SETTINGS + r"\Connections", "DefaultConnectionSettings")):
        query = subprocess.run(["wine", "reg", "query", key, "/v", name], env=PREFIX.env(), stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=60)
        values[name] = query.stdout if query.returncode == 0 else None
    return values


class WindowsKitTest(unittest.TestCase):

    def test_the_kit_passes_under_wine_and_marks_what_wine_cannot_show(self):
        report = e2e.new_folder(self)
        # A user's own proxy, switched off: the proxy scenario must put it back.
        PREFIX.reg_add(INTERNET_SETTINGS, "ProxyServer", "REG_SZ", "previous.example:3128")
        PREFIX.reg_add(INTERNET_SETTINGS, "ProxyEnable", "REG_DWORD", "0")
        before = user_proxy_values()
        code, text = run_kit(KIT, report)
        keep = os.environ.get("KESTRELUME_E2E_PICTURES")
        if keep:
            shutil.copytree(report, os.path.join(keep, "windows-kit-report"), dirs_exist_ok=True)
        self.assertIn("Ran on:        Wine ", text)
        for name in SCENARIOS:
            self.assertRegex(text, r"\n\[(passed|passed; parts not judged under Wine)\] %s \(" % name)
        # Wine cannot show these; they are never reported as passed there.
        for claim in ("planted DLLs is loaded", "has the RangeValue pattern", "Invoke on \"Try again\"",
                      "sent again with Proxy-Authorization"):
            self.assertRegex(text, r"- not judged under Wine: [^\n]*" + claim)
        self.assertNotIn("FAILED", text)
        self.assertEqual(code, 0)
        self.assertIn("previous.example:3128", before["ProxyServer"])
        self.assertEqual(user_proxy_values(), before)
        # A picture of every screen, from the real window, linked from the HTML.
        with open(os.path.join(report, "acceptance-report.html"), encoding="utf-8") as f:
            html = f.read()
        pictures = sorted(os.listdir(os.path.join(report, "pictures")))
        for screen in ("checking", "opening", "downloading", "verify", "offline", "disk", "windows-too-old",
                       "retired", "blocked"):
            found = [p for p in pictures if p.endswith("-%s.png" % screen)]
            self.assertTrue(found, "no picture of the %s screen" % screen)
            self.assertIn('src="pictures/%s"' % found[0], html)
            with open(os.path.join(report, "pictures", found[0]), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    def test_a_scenario_past_its_limit_has_its_installer_ended_and_fails(self):
        # The first scenario's manifest is held back by the kit's server until
        # the window has drawn: at 0.3 s the installer is still waiting.
        report = e2e.new_folder(self)
        code, text = run_kit(KIT, report, "--only", "launched", "--scenario-limit", "0.3", timeout=60)
        with open(os.path.join(report, "console.txt")) as f:
            console = f.read()
        self.assertRegex(console, r'"launched" is still running after 0\.\d s: ended 1 installer\(s\) that had not')
        self.assertIn("[FAILED] launched", text)
        self.assertEqual(code, 1)

    def test_a_kit_with_a_spoiled_release_fails(self):
        # The tampered manifest replaced by the good one, signature and all:
        # the scenario that expects "verify" gets "launched".
        folder = e2e.new_folder(self)
        kit = os.path.join(folder, "kit")
        shutil.copytree(KIT, kit)
        for name in ("stable.json", "stable.json.sig"):
            shutil.copyfile(os.path.join(kit, "releases", "update", name),
                            os.path.join(kit, "releases", "tampered", "update", name))
        report = os.path.join(folder, "report")
        os.makedirs(report)
        code, text = run_kit(kit, report, "--only", "tampered manifest", timeout=60)
        self.assertEqual(code, 1)
        self.assertIn("[FAILED] tampered manifest", text)
        self.assertIn('- FAILED: it reports "verify" (reported "launched")', text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
