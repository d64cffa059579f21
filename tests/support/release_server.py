"""Drives tests/support/test_server.py from Python and publishes signed releases on it.

Used by the end-to-end tests of the real installer and by tools/demo:

    with ReleaseServer() as server:
        release = server.publish(setup_path, version="1.4.2")
        server.url("/update/stable.json")

Standard library plus Debian's python3-cryptography (through tools/sign-manifest).
"""

import hashlib
import json
import os
import subprocess
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tests", "support", "test_server.py")
SIGN = os.path.join(ROOT, "tools", "sign-manifest")
DEV_KEY_1 = os.path.join(ROOT, "tests", "keys", "dev-signing-key-1.pem")
MANIFEST_PATH = "/update/stable.json"


def _read_port(port_file):
    """The port the server wrote, or None while it has written none."""
    try:
        with open(port_file) as f:
            text = f.read().strip()
    except FileNotFoundError:
        return None
    return int(text) if text else None


class ReleaseServer:
    def __init__(self, idle_timeout=600):
        self.folder = tempfile.mkdtemp(prefix="kestrelume-release-")
        port_file = os.path.join(self.folder, "port")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", SERVER, port_file, "--idle-timeout", str(idle_timeout)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not _read_port(port_file):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.process.kill()
                self.process.wait(5)
                raise RuntimeError("test server did not start")
            time.sleep(0.05)
        self.port = _read_port(port_file)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.process.poll() is None:
            try:
                self._post("/_control/shutdown", b"")
            except OSError:
                pass
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def _post(self, path, body):
        request = urllib.request.Request(self.url(path), data=body, method="POST")
        with urllib.request.urlopen(request, timeout=30) as answer:
            return answer.read()

    def route(self, path, **keys):
        """Scripts one path; keys as in test_server.py (status=404, body_file=..., chunk=...)."""
        lines = ["path=" + path] + ["%s=%s" % (k, v) for k, v in keys.items()]
        return self._post("/_control/route", "\n".join(lines).encode())

    def requests(self):
        """[(path, query, user_agent, range, body bytes sent)] of every request the server has seen."""
        with urllib.request.urlopen(self.url("/_control/requests"), timeout=30) as answer:
            text = answer.read().decode()
        return [tuple(line.split("\t")) for line in text.splitlines() if line]

    def open_gate(self, name):
        """Lets the answers of routes with gate=name go on."""
        self._post("/_control/open?gate=" + name, b"")

    def reset(self):
        self._post("/_control/reset", b"")

    def publish(self, setup_file, version="1.4.2", key=DEV_KEY_1, manifest_path=MANIFEST_PATH,
                chunk=None, delay_ms=None, tamper=False, **fields):
        """Serves a signed manifest naming setup_file, and the file itself.

        fields override or add manifest members (e.g. bootstrap_min=5). chunk and
        delay_ms slow the download down. tamper changes the manifest after signing.
        Returns the manifest as a dict.
        """
        with open(setup_file, "rb") as f:
            data = f.read()
        setup_path = "/releases/KestrelumeSetup-%s.exe" % version
        manifest = {
            "version": version,
            "published": "2026-12-01T00:00:00Z",
            "url": self.url(setup_path),
            "sha256": hashlib.sha256(data).hexdigest(),
            "size": len(data),
            "min_windows": "6.1",
            "bootstrap_min": 1,
        }
        manifest.update(fields)
        text = (json.dumps(manifest, indent=2) + "\n").encode()
        manifest_file = os.path.join(self.folder, "stable.json")
        with open(manifest_file, "wb") as f:
            f.write(text)
        subprocess.run(["/usr/bin/python3", SIGN, key, manifest_file], check=True)
        if tamper:
            with open(manifest_file, "wb") as f:
                f.write(text.replace(b'"published": "2026', b'"published": "2027'))
        slow = {}
        if chunk:
            slow = {"chunk": chunk, "delay_ms": delay_ms or 0}
        self.route(manifest_path, body_file=manifest_file)
        self.route(manifest_path + ".sig", body_file=manifest_file + ".sig")
        self.route(setup_path, body_file=os.path.abspath(setup_file), **slow)
        return manifest


def windows_path(unix_path):
    """The path as a Windows program under Wine sees it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")
