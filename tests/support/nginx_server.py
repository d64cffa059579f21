#!/usr/bin/python3
"""Debian's nginx on 127.0.0.1 for tests: plain HTTP and TLS servers with
their own configuration, logs and temporary files in one folder.

    from nginx_server import NginxServer, Site
    certs = TestCertificates(folder)                      # tests/support/test_ca.py
    with NginxServer([Site("plain"),
                      Site("tls", cert=certs.trusted),
                      Site("old", cert=certs.trusted, protocols=["TLSv1", "TLSv1.1"]),
                      Site("moved", cert=certs.trusted,
                           redirects={"/a.exe": "https://localhost:{port:tls}/a.exe"})],
                     folder=folder) as nginx:
        nginx.put("tls", "releases/a.exe", data)          # a file in the site's root
        nginx.url("tls", "/releases/a.exe")               # https://localhost:PORT/releases/a.exe
        nginx.requests("tls")                             # what the site served, from its access log
        nginx.error_lines("tls")                          # its connections in the error log (failed handshakes)

Site(name, root=None, cert=None, protocols=None, ciphers=None, redirects=None, extra="")
    name       the server's name in this fixture (letters, digits, - and _)
    root       document root; default FOLDER/www/NAME (made empty)
    cert       (certificate PEM path, key PEM path): a TLS server; None: plain HTTP
    protocols  ssl_protocols, default ["TLSv1.2", "TLSv1.3"]; with TLSv1 or
               TLSv1.1 in it the ciphers default to DEFAULT@SECLEVEL=0, which
               lets Debian's OpenSSL offer those versions
    redirects  {path: url} or {path: (status, url)}: exact paths answered with
               a redirect (302 by default)
    extra      more directives for the server block
    "{port:NAME}" in redirect addresses and in extra is replaced by that site's port.

Every site listens on a free port of 127.0.0.1 (and of [::1] where it can be
bound, for clients that resolve "localhost" there first). nginx runs in the
foreground as one process (`daemon off; master_process off;`) under a small
keeper, this file run as a program:

    nginx_server.py --keep FOLDER

which reads FOLDER/sites.json (written by NginxServer), writes
FOLDER/nginx.conf, starts nginx, and writes FOLDER/ready (JSON: {"ports":
{NAME: PORT}, "lifeline": PORT}) and FOLDER/ready.txt (the same as lines
"NAME PORT", then "lifeline PORT") once every port accepts connections. It stops
nginx and ends when the lifeline connection (a TCP connection to 127.0.0.1
port "lifeline", held by the client) closes, when its parent process goes
away, or after `lifetime` seconds (sites.json), whichever comes first. So a
test that dies leaves no nginx behind. Clients that are not Python (a test
program under Wine) can write sites.json themselves, start the keeper and
hold the lifeline. For them a TLS site in sites.json may name its
certificate instead of giving paths: {"tls": {"certificate": "trusted",
"protocols": [...]}} with a top-level "pki": FOLDER takes that member of
test_ca.TestCertificates(FOLDER) ("trusted", "expired", "wrong_host",
"untrusted"); the trusted CA is then FOLDER/ca/ca.der. With "remove_folder": true the
keeper deletes the whole folder once nginx has stopped.

Certificates for TLS sites name DNS hosts ("localhost"): Wine's WinHTTP
never matches a server name against an IP address, so TLS addresses use
localhost (NginxServer.url does).
"""

import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

NGINX = "/usr/sbin/nginx"
KEEPER = os.path.abspath(__file__)
START_TIMEOUT = 20
LOG_FIELDS = ("method", "path", "query", "status", "bytes", "tls", "user_agent")


class Site:
    def __init__(self, name, root=None, cert=None, protocols=None, ciphers=None, redirects=None,
                 extra=""):
        if not re.fullmatch(r"[A-Za-z0-9_-]+", name):
            raise ValueError("site name %r" % name)
        self.name, self.root, self.cert = name, root, cert
        self.protocols = list(protocols or ["TLSv1.2", "TLSv1.3"])
        if ciphers is None and {"TLSv1", "TLSv1.1"} & set(self.protocols):
            ciphers = "DEFAULT@SECLEVEL=0"
        self.ciphers, self.redirects, self.extra = ciphers, dict(redirects or {}), extra

    def as_json(self, folder):
        redirects = {}
        for path, target in self.redirects.items():
            status, url = target if isinstance(target, tuple) else (302, target)
            redirects[path] = [status, url]
        site = {"name": self.name, "root": os.path.abspath(self.root or os.path.join(folder, "www", self.name)),
                "redirects": redirects, "extra": self.extra}
        if self.cert:
            site["tls"] = {"cert": os.path.abspath(self.cert[0]), "key": os.path.abspath(self.cert[1]),
                           "protocols": self.protocols, "ciphers": self.ciphers}
        return site


class NginxServer:
    """Starts nginx with the given sites; stops it on close() (or `with`).

    folder: where configuration, logs, temporary files and default document
    roots go (default: a new temporary folder, removed on close).
    lifetime: seconds after which nginx stops by itself.
    """

    def __init__(self, sites, folder=None, lifetime=900):
        self._own_folder = folder is None
        self.folder = os.path.abspath(folder or tempfile.mkdtemp(prefix="kestrelume-nginx-"))
        self.sites = {site.name: site for site in sites}
        self.ports = {}
        self._lifeline = None
        self._keeper = None
        os.makedirs(self.folder, exist_ok=True)
        description = {"sites": [site.as_json(self.folder) for site in sites], "lifetime": lifetime}
        for site in description["sites"]:
            os.makedirs(site["root"], exist_ok=True)
        # A folder used before keeps its roots, not its logs or state.
        shutil.rmtree(os.path.join(self.folder, "logs"), ignore_errors=True)
        ready = os.path.join(self.folder, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        with open(os.path.join(self.folder, "sites.json"), "w") as f:
            json.dump(description, f, indent=1)
        self._keeper = subprocess.Popen(["/usr/bin/python3", KEEPER, "--keep", self.folder],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(ready):
            if time.monotonic() > deadline or self._keeper.poll() is not None:
                self.close()
                raise RuntimeError("nginx did not start; see %s" % self.log_path("error"))
            time.sleep(0.05)
        with open(ready) as f:
            state = json.load(f)
        self.ports = state["ports"]
        self._lifeline = socket.create_connection(("127.0.0.1", state["lifeline"]), 5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._lifeline:
            self._lifeline.close()
            self._lifeline = None
        if self._keeper:
            if self._keeper.poll() is None:
                try:
                    self._keeper.wait(10)
                except subprocess.TimeoutExpired:
                    self._keeper.kill()
                    self._keeper.wait()
            self._keeper = None
        if self._own_folder:
            shutil.rmtree(self.folder, ignore_errors=True)

    def port(self, name):
        return self.ports[name]

    def url(self, name, path="/", host=None):
        """The site's address for path: https://localhost:PORT for TLS sites,
        http://127.0.0.1:PORT for plain ones, unless host is given."""
        tls = self.sites[name].cert is not None
        host = host or ("localhost" if tls else "127.0.0.1")
        return "%s://%s:%d%s" % ("https" if tls else "http", host, self.ports[name], path)

    def root(self, name):
        return self.sites[name].as_json(self.folder)["root"]

    def put(self, name, relative_path, data):
        """Writes data (bytes) to relative_path under the site's root; returns the file's path."""
        path = os.path.join(self.root(name), relative_path.lstrip("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def log_path(self, name):
        """The access log of a site, or the error log for name "error"."""
        return os.path.join(self.folder, "logs", name + (".log" if name == "error" else ".access.log"))

    def requests(self, name):
        """Every request the site answered, oldest first, as dicts with keys
        method, path, query, status (int), bytes (body bytes sent, int), tls
        (protocol, "" for plain HTTP) and user_agent."""
        path = self.log_path(name)
        if not os.path.exists(path):
            return []
        entries = []
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                values = line.rstrip("\n").split("\t")
                if len(values) != len(LOG_FIELDS):
                    continue
                entry = dict(zip(LOG_FIELDS, values))
                entry["status"], entry["bytes"] = int(entry["status"]), int(entry["bytes"])
                entry["query"] = "" if entry["query"] == "-" else entry["query"]
                entry["tls"] = "" if entry["tls"] == "-" else entry["tls"]
                entries.append(entry)
        return entries

    def error_lines(self, name):
        """Lines of the error log (level info) about connections to the site,
        such as handshakes that failed or were closed by the client."""
        path = self.log_path("error")
        if not os.path.exists(path):
            return []
        mark = "server: 127.0.0.1:%d" % self.ports[name]
        with open(path, encoding="utf-8", errors="replace") as f:
            return [line.rstrip("\n") for line in f if line.rstrip("\n").endswith(mark)]

    def clear_logs(self):
        """Forgets what the sites served so far (nginx appends to the same files)."""
        for name in list(self.sites) + ["error"]:
            path = self.log_path(name)
            if os.path.exists(path):
                open(path, "w").close()


# --- the keeper ------------------------------------------------------------

def _free_port(ipv6_too):
    while True:
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        if not ipv6_too or _bindable("::1", port):
            return port


def _bindable(host, port):
    try:
        s = socket.socket(socket.AF_INET6)
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        s.bind((host, port))
        s.close()
        return True
    except OSError:
        return False


def _config(folder, sites, ports, ipv6):
    def fill(text):
        return re.sub(r"\{port:([A-Za-z0-9_-]+)\}", lambda m: str(ports[m.group(1)]), text)

    logs = os.path.join(folder, "logs")
    temp = os.path.join(folder, "temp")
    lines = [
        "daemon off;",
        "master_process off;",
        "worker_processes 1;",
        "pid %s/nginx.pid;" % folder,
        "error_log %s/error.log info;" % logs,
        "events { worker_connections 256; }",
        "http {",
        "  log_format fixture '$request_method\\t$uri\\t$args\\t$status\\t$body_bytes_sent\\t"
        "$ssl_protocol\\t$http_user_agent';",
        "  types { application/octet-stream exe bin; application/json json; text/plain sig txt; }",
        "  default_type application/octet-stream;",
        "  sendfile on;",
        "  keepalive_timeout 5;",
    ]
    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
        lines.append("  %s_temp_path %s/%s;" % (kind, temp, kind))
    for site in sites:
        port = ports[site["name"]]
        tls = site.get("tls")
        suffix = " ssl" if tls else ""
        lines.append("  server {")
        lines.append("    listen 127.0.0.1:%d%s;" % (port, suffix))
        if ipv6:
            lines.append("    listen [::1]:%d%s;" % (port, suffix))
        lines.append("    server_name localhost;")
        lines.append("    root %s;" % site["root"])
        lines.append("    access_log %s/%s.access.log fixture;" % (logs, site["name"]))
        if tls:
            lines.append("    ssl_certificate %s;" % tls["cert"])
            lines.append("    ssl_certificate_key %s;" % tls["key"])
            lines.append("    ssl_protocols %s;" % " ".join(tls["protocols"]))
            if tls.get("ciphers"):
                lines.append("    ssl_ciphers %s;" % tls["ciphers"])
        for path, (status, url) in site["redirects"].items():
            lines.append("    location = %s { return %d %s; }" % (path, status, fill(url)))
        if site.get("extra"):
            lines.append("    " + fill(site["extra"]))
        lines.append("  }")
    lines.append("}")
    return "\n".join(lines) + "\n"


def _listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        return True
    except OSError:
        return False


def _stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGQUIT)  # graceful: finishes the log lines
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def keep(folder):
    # Whatever started us may hold a pipe that someone waits on (CTest).
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    first_parent = os.getppid()
    with open(os.path.join(folder, "sites.json")) as f:
        description = json.load(f)
    sites = description["sites"]
    if description.get("pki"):
        sys.path.insert(0, os.path.dirname(KEEPER))
        from test_ca import TestCertificates
        certs = TestCertificates(description["pki"])
        for site in sites:
            tls = site.get("tls")
            if tls and tls.get("certificate"):
                tls["cert"], tls["key"] = getattr(certs, tls["certificate"])
                tls.setdefault("protocols", ["TLSv1.2", "TLSv1.3"])
                if tls.get("ciphers") is None and {"TLSv1", "TLSv1.1"} & set(tls["protocols"]):
                    tls["ciphers"] = "DEFAULT@SECLEVEL=0"
    for site in sites:
        os.makedirs(site["root"], exist_ok=True)
    for sub in ("logs", "temp"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    ipv6 = _bindable("::1", 0)

    # A port taken between choosing and binding makes nginx exit; try again.
    nginx = None
    for _ in range(5):
        ports = {site["name"]: _free_port(ipv6) for site in sites}
        config = os.path.join(folder, "nginx.conf")
        with open(config, "w") as f:
            f.write(_config(folder, sites, ports, ipv6))
        nginx = subprocess.Popen([NGINX, "-p", folder, "-c", config, "-e", os.path.join(folder, "logs", "error.log")],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=open(os.path.join(folder, "logs", "nginx.stderr"), "ab"))
        deadline = time.monotonic() + START_TIMEOUT
        while nginx.poll() is None and time.monotonic() < deadline:
            if all(_listening(port) for port in ports.values()):
                break
            time.sleep(0.05)
        if nginx.poll() is None and all(_listening(port) for port in ports.values()):
            break
        _stop(nginx)
        nginx = None
    if nginx is None:
        return 1

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    temporary = os.path.join(folder, "ready.tmp")
    with open(temporary, "w") as f:
        json.dump({"ports": ports, "lifeline": listener.getsockname()[1]}, f)
    with open(temporary + ".txt", "w") as f:
        f.write("".join("%s %d\n" % item for item in ports.items()))
        f.write("lifeline %d\n" % listener.getsockname()[1])
    os.replace(temporary + ".txt", os.path.join(folder, "ready.txt"))
    os.replace(temporary, os.path.join(folder, "ready"))

    end = time.monotonic() + float(description.get("lifetime", 900))
    held = []
    try:
        # Stops when a lifeline that was attached closes, the parent goes away,
        # nginx ends, or the lifetime is over.
        while time.monotonic() < end and nginx.poll() is None and os.getppid() == first_parent:
            readable, _, _ = select.select([listener] + held, [], [], 0.5)
            for s in readable:
                if s is listener:
                    held.append(listener.accept()[0])
                elif not s.recv(4096):
                    return 0
    finally:
        _stop(nginx)
        if description.get("remove_folder"):
            shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--keep":
        sys.exit(keep(os.path.abspath(sys.argv[2])))
    sys.stderr.write(__doc__)
    sys.exit(2)
