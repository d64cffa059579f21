#!/usr/bin/python3
"""Whole runs of the real installer behind a proxy: Debian's squid on
127.0.0.1, set up the ways a Windows user or administrator sets a proxy, over
plain HTTP and over HTTPS (CONNECT). The release lives under names that a
direct connection cannot reach (a closed port on localhost, a host name only
squid's hosts file knows), so every install that works went through squid,
and squid's access log shows it.

What Wine 8 implements (tried here): WinHttpGetIEProxyConfigForCurrentUser
reads the per-user DefaultConnectionSettings value (fixed proxy, bypass list,
auto-configuration address; with no value it reports automatic detection);
WinHttpGetProxyForUrl runs a PAC script from an auto-configuration address;
WinHttpGetDefaultProxyConfiguration reads the machine-wide WinHttpSettings
value. WINHTTP_OPTION_PROXY is accepted and ignored on requests and sessions
alike; a session opened for a named proxy is honoured. A 407 to CONNECT fails
the send (error 12157) instead of giving the status. Not shown here: WPAD
(Wine looks for a "wpad" host of the machine's DNS domain, which this machine
has none of), and the Windows logon completing an NTLM or Negotiate login:
Wine makes NTLM messages with Samba's ntlm_auth (package winbind), which this
machine lacks, so here the logon is offered once and the run ends offline;
Negotiate needs Kerberos. The decision itself is tested in
tests/net/proxy_auth_test.cpp."""

import os
import shutil
import struct
import sys
import tempfile
import unittest

import e2e_support as e2e
from e2e_support import windows_path

sys.path.insert(0, os.path.join(e2e.SOURCE_DIR, "tests", "support"))
from nginx_server import NginxServer, Site, _free_port  # noqa: E402
from squid_server import SquidServer  # noqa: E402
from static_release import write_release  # noqa: E402

SQUID_FOLDER = tempfile.mkdtemp(prefix="kestrelume-squid-", dir="/tmp")
os.chmod(SQUID_FOLDER, 0o755)
from test_ca import TestCertificates  # noqa: E402

PREFIX = None
NGINX = None
SQUID = None
PROXY_ONLY_HOST = "release.proxy-only.test"
SETUP = "/releases/KestrelumeSetup-1.4.2.exe"
CONNECTIONS = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
DIRECT, PROXY, AUTO_CONFIG_URL = 1, 2, 4  # connection settings flags
LOGIN = "add_header %s 'Basic realm=\"r\"' always; return %d;"


def connection_settings(magic, flags, proxy="", bypass="", config_url=None):
    """The binary value Windows keeps a proxy set-up in: per user (magic
    0x46, with an auto-configuration address) or machine-wide (0x18)."""
    data = struct.pack("<III", magic, 0, flags)
    texts = [proxy, bypass] + ([config_url or ""] if config_url is not None else [])
    for text in texts:
        data += struct.pack("<I", len(text)) + text.encode()
    return data + (bytes(32) if magic == 0x46 else b"")


def setUpModule():
    global PREFIX, NGINX, SQUID
    certs = TestCertificates(os.path.join(e2e.BUILD_DIR, "test-pki"))
    proxy_only = certs.ca.issue("proxy-only", hosts=[PROXY_ONLY_HOST],
                                folder=os.path.join(e2e.BUILD_DIR, "test-pki", "leaves"))
    PREFIX = e2e.open_module_prefix()
    try:
        certs.ca.trust_in_prefix(PREFIX.path, os.path.join(e2e.BUILD_DIR, "add_root_cert.exe"),
                                 env=PREFIX.env())
        NGINX = NginxServer([
            Site("plain", extra=" ".join([
                "location = /login401/stable.json { %s }" % (LOGIN % ("WWW-Authenticate", 401)),
                "location = /login407/stable.json { %s }" % (LOGIN % ("Proxy-Authenticate", 407)),
                "location = /releases/locked.exe { %s }" % (LOGIN % ("WWW-Authenticate", 401))])),
            Site("tls", cert=proxy_only),
        ], folder=os.path.join(e2e.BUILD_DIR, "proxy-test-nginx"))
        # Started as root, squid works as the "proxy" user, which cannot reach
        # a build folder inside a home folder (/root is private): its files
        # live under /tmp.
        SQUID = SquidServer(os.path.join(SQUID_FOLDER, "squid"), NGINX.port("plain"),
                            hosts={PROXY_ONLY_HOST: "127.0.0.1"})
    except BaseException:
        if NGINX:
            NGINX.close()
        shutil.rmtree(SQUID_FOLDER, ignore_errors=True)
        e2e.close_module_prefix(PREFIX)
        raise


def tearDownModule():
    if SQUID:
        SQUID.close()
    shutil.rmtree(SQUID_FOLDER, ignore_errors=True)
    if NGINX:
        NGINX.close()
    e2e.close_module_prefix(PREFIX)


def set_proxy(way, proxy=""):
    """Sets the prefix up so that `way` names `proxy`, and no other way names any."""
    user = connection_settings(0x46, DIRECT)
    machine = connection_settings(0x18, DIRECT)
    if way == "user":
        user = connection_settings(0x46, DIRECT | PROXY, proxy, "")
    elif way == "pac":
        script = ('function FindProxyForURL(url, host) {\n'
                  '  if (host == "%s" || host == "localhost") return "PROXY %s";\n'
                  '  return "DIRECT";\n}\n' % (PROXY_ONLY_HOST, proxy))
        NGINX.put("plain", "proxy.pac", script.encode())
        user = connection_settings(0x46, DIRECT | AUTO_CONFIG_URL, config_url=NGINX.url("plain", "/proxy.pac"))
    elif way == "machine":
        machine = connection_settings(0x18, DIRECT | PROXY, proxy, "")
    PREFIX.reg_add("HKCU\\" + CONNECTIONS, "DefaultConnectionSettings", "REG_BINARY", user.hex())
    PREFIX.reg_add("HKLM\\" + CONNECTIONS, "WinHttpSettings", "REG_BINARY", machine.hex())


class ProxyInstallTest(unittest.TestCase):

    def setUp(self):
        self.folder = e2e.new_folder(self)
        NGINX.clear_logs()
        SQUID.clear_logs()

    def base(self, scheme):
        """Where the release lives: only a proxy reaches it."""
        if scheme == "https":
            return "https://%s:%d" % (PROXY_ONLY_HOST, NGINX.port("tls"))
        # Plain HTTP may only address this machine: a port where nothing
        # listens, which squid forwards to the origin server.
        return "http://localhost:%d" % self.closed_port

    @classmethod
    def setUpClass(cls):
        cls.closed_port = _free_port(False)

    def install(self, name, scheme, manifest_path=None, setup_url=None):
        site = "tls" if scheme == "https" else "plain"
        manifest = manifest_path or "/%s/stable.json" % name
        write_release(NGINX.root(site), e2e.FAKE_SETUP, setup_url or self.base(scheme) + SETUP,
                      manifest_path=manifest)
        work = os.path.join(self.folder, "work-" + name)
        record = os.path.join(self.folder, "record-" + name)
        code, outcome = e2e.run_to_outcome(
            PREFIX, ["--manifest-url", self.base(scheme) + manifest, "--work-dir", windows_path(work)],
            self.folder, KESTRELUME_FAKE_SETUP_RECORD=windows_path(record))
        self.assertEqual(code, 0)
        return outcome, work

    def test_installs_through_each_way_of_setting_the_proxy(self):
        for way in ("none", "user", "pac", "machine"):
            for scheme in ("http", "https"):
                with self.subTest(way=way, scheme=scheme):
                    SQUID.clear_logs()
                    set_proxy(way, SQUID.address("open"))
                    name = "%s-%s" % (way, scheme)
                    outcome, work = self.install(name, scheme)
                    through = SQUID.requests("open")
                    if way == "none":
                        # The direct route is closed: nothing gets there.
                        self.assertEqual(outcome, "offline")
                        self.assertEqual(through, [])
                        continue
                    self.assertEqual(outcome, "launched")
                    self.assertEqual(os.listdir(work), ["KestrelumeSetup-1.4.2.exe"])
                    if scheme == "http":
                        base = self.base("http")
                        self.assertEqual(through, [
                            ("GET", base + "/%s/stable.json" % name, 200),
                            ("GET", base + "/%s/stable.json.sig" % name, 200),
                            ("GET", base + SETUP + "?via=bootstrap", 200)])
                    else:
                        tunnel = ("CONNECT", "%s:%d" % (PROXY_ONLY_HOST, NGINX.port("tls")), 200)
                        # squid logs a tunnel once it has closed, which can
                        # be a moment after the installer has ended.
                        through = through or e2e.wait_for(lambda: SQUID.requests("open"), 10,
                                                          what="squid's log line of the tunnel")
                        self.assertEqual(set(through), {tunnel}, through)
                        served = [(r["path"], r["status"]) for r in NGINX.requests("tls")]
                        self.assertIn(("/%s/stable.json" % name, 200), served)
                        self.assertIn((SETUP, 200), served)

    def test_a_login_the_installer_cannot_give_ends_offline_never_verify(self):
        # A proxy that wants a Basic login, over HTTP (its 407 is the
        # status) and HTTPS (its 407 refuses the tunnel).
        for scheme in ("http", "https"):
            with self.subTest("proxy with Basic login", scheme=scheme):
                set_proxy("machine", SQUID.address("basic"))
                SQUID.clear_logs()
                outcome, work = self.install("basic-" + scheme, scheme)
                self.assertEqual(outcome, "offline")
                self.assertFalse(os.path.isdir(work) and os.listdir(work))
                method = "GET" if scheme == "http" else "CONNECT"
                self.assertEqual({(m, s) for m, _, s in SQUID.requests("basic")}, {(method, 407)})
                self.assertEqual(SQUID.requests("open"), [])
        with self.subTest("proxy with NTLM login"):
            # The request goes out once more, with the Windows logon. Wine
            # makes NTLM messages with Samba's ntlm_auth; without it the
            # second request carries none, squid asks again, and the run
            # gives up: offline, after exactly two tries of the manifest.
            set_proxy("machine", SQUID.address("ntlm"))
            SQUID.clear_logs()
            outcome, work = self.install("ntlm-http", "http")
            tries = SQUID.requests("ntlm")
            if shutil.which("ntlm_auth"):
                # squid's NTLM helper accepts any exchange that completes.
                self.assertEqual(outcome, "launched")
                self.assertIn(200, [s for _, _, s in tries])
            else:
                self.assertEqual(outcome, "offline")
                manifest = self.base("http") + "/ntlm-http/stable.json"
                self.assertEqual(tries, [("GET", manifest, 407)] * 2)
                self.assertFalse(os.path.isdir(work) and os.listdir(work))
        # The release server itself asking for a login, directly.
        set_proxy("none")
        plain = NGINX.url("plain", "")
        for name, manifest, setup_url, status in (
                ("manifest answered 401", "/login401/stable.json", None, 401),
                ("manifest answered 407", "/login407/stable.json", None, 407),
                ("setup answered 401", "/locked/stable.json", plain + "/releases/locked.exe", 401)):
            with self.subTest(name):
                NGINX.clear_logs()
                write_release(NGINX.root("plain"), e2e.FAKE_SETUP, setup_url or plain + SETUP,
                              manifest_path=manifest)
                work = os.path.join(self.folder, "work-" + manifest.split("/")[1])
                code, outcome = e2e.run_to_outcome(
                    PREFIX, ["--manifest-url", plain + manifest, "--work-dir", windows_path(work)],
                    self.folder)
                self.assertEqual((code, outcome), (0, "offline"))
                self.assertIn(status, [r["status"] for r in NGINX.requests("plain")])
                self.assertFalse(os.path.isdir(work) and os.listdir(work))


if __name__ == "__main__":
    unittest.main(verbosity=2)
