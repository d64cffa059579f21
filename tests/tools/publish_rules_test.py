#!/usr/bin/python3
"""publish-release refuses exactly the manifests the installer refuses, field
by field, and accepts what it accepts at the edges of each rule. A module of
its own beside release_test.py (whose helpers it uses), so that CTest can run
the two side by side."""

import hashlib
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "app"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_support as e2e  # noqa: E402
import release_test as release  # noqa: E402
from release_test import publish, sign_unchecked, verify  # noqa: E402


def setUpModule():
    # Only verify-release's Wine prefix: nothing here is served or installed.
    release.PREFIX = e2e.open_module_prefix()


def tearDownModule():
    e2e.close_module_prefix(release.PREFIX)


class PublishRulesTest(unittest.TestCase):

    def test_publisher_refuses_exactly_what_the_installer_refuses(self):
        folder = e2e.new_folder(self)
        setup = e2e.FAKE_SETUP
        with open(setup, "rb") as f:
            program = f.read()
        empty = os.path.join(folder, "empty.exe")
        open(empty, "wb").close()
        url = "https://download.example.com/releases/s.exe"
        base = dict(version="1.4.2", published="2026-12-01T00:00:00Z", url=url,
                    sha256=hashlib.sha256(program).hexdigest(), size=len(program), bootstrap_min=1)
        # (publish-release options, field named, installer's verdict on the
        # manifest it would have written, or None when the publisher accepts)
        cases = [
            (["--version", "1.2.3-beta"], "version", "check:         Invalid"),
            (["--version", "v1.2"], "version", "check:         Invalid"),
            (["--version", "1.2.3.4.5"], "version", "check:         Invalid"),
            (["--version", "1234567890.1"], "version", "check:         Invalid"),
            (["--version", "0.1.9"], "version", "check:         VersionTooLow"),
            # "@" after "?" is no user information to a URL parser, but the
            # installer refuses it; so must the publisher.
            (["--url", "https://download.kestrelume.com?x=a@evil.example/KestrelumeSetup.exe"], "url",
             "check:         Invalid (a field is missing or malformed): url"),
            (["--url", "http://download.example.com/s.exe"], "url", "check:         Invalid"),
            (["--url", "https://user@download.example.com/s.exe"], "url", "check:         Invalid"),
            (["--url", "ftp://download.example.com/s.exe"], "url", "check:         Invalid"),
            (["--url", "http://127.0.0.2:8080/s.exe"], "url", "check:         Invalid"),
            (["--mirror", "http://[::2]/s.exe"], "mirror", "check:         Invalid"),
            (["--url", "https://[2001:db8::1/s.exe"], "url", "check:         Invalid"),
            (["--url", "https://[2001:db8::1]:65536/s.exe"], "url", "check:         Invalid"),
            (["--min-windows", "10.0.x"], "min_windows", "check:         Invalid"),
            (["--bootstrap-min", "-1"], "bootstrap_min", "reader:        the installer's JSON reader refuses"),
            (["--bootstrap-min", "1000001"], "bootstrap_min", "reader:        the installer's JSON reader refuses"),
            (["--published", ""], "published", "check:         Invalid (a field is missing or malformed): published"),
            (["--published", "x" * 65600], "manifest", "more than 65536 bytes"),
            (["--setup", empty], "setup program", "check:         Invalid (a field is missing or malformed): size"),
            # Accepted at the edges of each rule, by both.
            (["--version", "0.2", "--url", "HTTPS://Download.Example.COM:8443/s.exe", "--min-windows", "6.1",
              "--bootstrap-min", "0", "--mirror", "http://localhost:1/s.exe"], None, "check:         Ok"),
            (["--version", "000000001.2.3.4", "--bootstrap-min", "1000000", "--retire-installers"], None,
             "check:         Retired"),
            # Without --retire-installers, a level that retires every installer in use is refused.
            (["--bootstrap-min", "2"], "bootstrap_min", "check:         Retired"),
            (["--url", "https://[2001:DB8::1]:8443/s.exe", "--mirror", "http://[::1]:1/s.exe"], None,
             "check:         Ok"),
        ]
        for options, field, installer in cases:
            with self.subTest(" ".join(options)[:60]):
                retire = "--retire-installers" in options
                options = [o for o in options if o != "--retire-installers"]
                values = dict(zip(options[::2], options[1::2]))
                program = values.pop("--setup", setup)
                out = os.path.join(folder, "out")
                shutil.rmtree(out, ignore_errors=True)
                command = ["--version", "1.4.2", "--url", url, "--published", base["published"]] + [
                    item for pair in values.items() for item in pair]
                result = publish(program, out, *command, *(["--retire-installers"] if retire else []))
                if field:
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn("refused, nothing written: %s: " % field, result.stderr)
                    self.assertFalse(os.path.exists(out))
                    fields = dict(base)
                    for option, value in values.items():
                        key = option[2:].replace("-", "_")
                        fields[key] = int(value) if key == "bootstrap_min" else value
                    if program == empty:
                        fields.update(size=0, sha256=hashlib.sha256(b"").hexdigest())
                    sign_unchecked(out, fields)
                else:
                    self.assertEqual(result.returncode, 0, result.stderr)
                checked = verify(out, "--setup", program)
                self.assertIn(installer, checked.stdout)
                self.assertEqual(checked.returncode, 0 if installer.endswith("Ok") else 1, checked.stdout)
                if values.get("--bootstrap-min") == "1000000":
                    self.assertIn("EVERY installer now in use", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
