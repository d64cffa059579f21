#!/usr/bin/python3
"""Whole runs of the real installer over TLS against Debian's nginx on
127.0.0.1, with a private CA that the module's Wine prefix trusts: a good
server, servers whose certificate or protocol must be refused, redirects and
the mirror. Each server's access log shows what it served.

Wine 8 differs from Windows here, and the tests say where: its WinHTTP hands
schannel TLS 1.2 only (so TLS 1.3 is never negotiated). Revocation is checked by neither: the program does not ask WinHTTP
for it (WINHTTP_ENABLE_SSL_REVOCATION), so the test CA needs no revocation
lists; whether Wine's chain engine would honour such a request is not shown
here."""

import os
import sys
import unittest

import e2e_support as e2e
from e2e_support import windows_path

sys.path.insert(0, os.path.join(e2e.SOURCE_DIR, "tests", "support"))
from nginx_server import NginxServer, Site  # noqa: E402
from static_release import write_release  # noqa: E402
from test_ca import TestCertificates  # noqa: E402

PREFIX = None
NGINX = None
SETUP = "/releases/KestrelumeSetup-1.4.2.exe"
REFUSED = ("untrusted", "expired", "wronghost", "tls10-11", "tls13")


def setUpModule():
    global PREFIX, NGINX
    certs = TestCertificates(os.path.join(e2e.BUILD_DIR, "test-pki"))
    PREFIX = e2e.open_module_prefix()
    try:
        certs.ca.trust_in_prefix(PREFIX.path, os.path.join(e2e.BUILD_DIR, "add_root_cert.exe"),
                                 env=PREFIX.env())
        NGINX = NginxServer([
            Site("good", cert=certs.trusted, redirects={
                "/to-plain.exe": "http://127.0.0.1:{port:plain}" + SETUP,
                "/to-other.exe": "https://localhost:{port:other}" + SETUP}),
            Site("other", cert=certs.trusted),
            Site("plain"),
            Site("untrusted", cert=certs.untrusted),
            Site("expired", cert=certs.expired),
            Site("wronghost", cert=certs.wrong_host),
            Site("tls10-11", cert=certs.trusted, protocols=["TLSv1", "TLSv1.1"]),
            Site("tls13", cert=certs.trusted, protocols=["TLSv1.3"]),
        ], folder=os.path.join(e2e.BUILD_DIR, "tls-test-nginx"))
        with open(e2e.FAKE_SETUP, "rb") as f:
            setup = f.read()
        for site in ("other", "plain"):
            NGINX.put(site, SETUP, setup)
    except BaseException:
        e2e.close_module_prefix(PREFIX)
        raise


def tearDownModule():
    if NGINX:
        NGINX.close()
    e2e.close_module_prefix(PREFIX)


class TlsInstallTest(unittest.TestCase):

    def setUp(self):
        self.folder = e2e.new_folder(self)
        NGINX.clear_logs()

    def install(self, name, site, url, **fields):
        """Publishes a release whose manifest lies on `site` and names `url`,
        runs the installer on it; (outcome, work folder, setup record)."""
        manifest = "/%s/stable.json" % name
        write_release(NGINX.root(site), e2e.FAKE_SETUP, url, manifest_path=manifest, **fields)
        work = os.path.join(self.folder, "work-" + name)
        record = os.path.join(self.folder, "record-" + name)
        code, outcome = e2e.run_to_outcome(
            PREFIX, ["--manifest-url", NGINX.url(site, manifest), "--work-dir", windows_path(work)],
            self.folder, KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
        self.assertEqual(code, 0)
        return outcome, work, record

    def served(self, site):
        return [(r["path"], r["query"], r["status"]) for r in NGINX.requests(site)]

    def test_trusted_server_with_explicit_port_serves_the_whole_install(self):
        outcome, work, record = self.install("trusted", "good", NGINX.url("good", SETUP))
        self.assertEqual(outcome, "launched")
        e2e.wait_for(lambda: os.path.exists(record), 15, what="the setup program's record")
        self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])
        self.assertEqual(self.served("good"), [("/trusted/stable.json", "", 200),
                                               ("/trusted/stable.json.sig", "", 200),
                                               (SETUP, "via=bootstrap", 200)])
        log = NGINX.requests("good")
        self.assertEqual(log[2]["bytes"], os.path.getsize(e2e.FAKE_SETUP))
        # Wine negotiates TLS 1.2 only; Windows 11 would use 1.3.
        self.assertTrue({r["tls"] for r in log} <= {"TLSv1.2", "TLSv1.3"}, log)

    def test_refused_certificates_and_protocols_end_offline_with_nothing_served(self):
        # untrusted CA, expired, issued for another host name, a server
        # offering only TLS 1.0/1.1 (never enabled by the program), and one
        # offering only TLS 1.3. The last one works on Windows 11; Wine 8
        # cannot offer TLS 1.3, so here it shows only a clean "offline".
        for site in REFUSED:
            with self.subTest(site):
                outcome, work, record = self.install(site, site, NGINX.url(site, SETUP))
                self.assertEqual(outcome, "offline")
                self.assertEqual(self.served(site), [])
                # It was reached, and the TLS layer ended the connection.
                e2e.wait_for(lambda: NGINX.error_lines(site), 5, what="a connection to " + site)
                self.assertFalse(os.path.isdir(work) and os.listdir(work))
                self.assertFalse(os.path.exists(record))

    def test_redirects_and_mirror(self):
        with self.subTest("https to http is refused"):
            outcome, work, record = self.install("to-plain", "good", NGINX.url("good", "/to-plain.exe"))
            # The program follows redirects itself and refuses this one
            # before anything connects: a network error.
            self.assertEqual(outcome, "offline")
            self.assertEqual(self.served("plain"), [])
            self.assertFalse(os.path.isdir(work) and os.listdir(work))
            self.assertFalse(os.path.exists(record))
        with self.subTest("https to another https server is followed"):
            NGINX.clear_logs()
            outcome, work, _ = self.install("to-other", "good", NGINX.url("good", "/to-other.exe"))
            self.assertEqual(outcome, "launched")
            self.assertIn(("/to-other.exe", "via=bootstrap", 302), self.served("good"))
            self.assertEqual(self.served("other"), [(SETUP, "", 200)])
            self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])
        with self.subTest("mirror over https after the main address fails"):
            NGINX.clear_logs()
            outcome, work, _ = self.install("mirror", "good", NGINX.url("untrusted", SETUP),
                                            mirror=NGINX.url("other", SETUP + "?from=mirror"))
            self.assertEqual(outcome, "launched")
            self.assertEqual(self.served("untrusted"), [])
            self.assertEqual(self.served("other"), [(SETUP, "from=mirror", 200)])
            self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
