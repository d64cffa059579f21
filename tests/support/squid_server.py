#!/usr/bin/python3
"""Debian's squid on 127.0.0.1 for tests, as the proxy that a company or a
school runs: one process per test module with a private configuration, hosts
file, password file and logs in one folder.

    with SquidServer(folder, origin_port=nginx.port("plain"),
                     hosts={"release.proxy-only.test": "127.0.0.1"}) as squid:
        squid.address("open")            # "127.0.0.1:PORT": no login wanted
        squid.address("basic")           # "127.0.0.1:PORT": answers 407, Basic
        squid.address("ntlm")            # "127.0.0.1:PORT": answers 407, NTLM
        squid.requests("open")           # [(method, url, status)] from its access log

Ports: "open" forwards every request; "basic" wants a Basic login that no
client here has; "ntlm" wants an NTLM login, any that completes (squid's
fake NTLM helper). Names in `hosts` resolve for squid only (its hosts_file; no
DNS server is asked), so a client that reaches such a host went through the
proxy. Plain-HTTP requests (any host, any port) go to the origin server
127.0.0.1:origin_port as if it were that host; CONNECT goes where the hosts
file says. Started as root, squid runs as Debian's "proxy" user, which gets
the folder.
"""

import os
import pwd
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nginx_server import _free_port, _listening  # noqa: E402

SQUID = "/usr/sbin/squid"
BASIC_AUTH = "/usr/lib/squid/basic_ncsa_auth"
# Accepts any NTLM exchange that completes; needs a client that can make one.
NTLM_AUTH = "/usr/lib/squid/ntlm_fake_auth"
PORTS = ("open", "basic", "ntlm")
START_TIMEOUT = 30


class SquidServer:
    def __init__(self, folder, origin_port, hosts=None):
        self.folder = os.path.abspath(folder)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        os.chmod(self.folder, 0o755)
        self.ports = {name: _free_port(False) for name in PORTS}
        with open(self._path("hosts"), "w") as f:
            for name, address in (hosts or {}).items():
                f.write("%s %s\n" % (address, name))
        with open(self._path("passwords"), "w") as f:
            f.write("nobody-here:$apr1$unusable$0000000000000000000000\n")
        with open(self._path("squid.conf"), "w") as f:
            f.write(self._config(origin_port))
        if os.geteuid() == 0:
            user = pwd.getpwnam("proxy")
            for path in [self.folder] + [self._path(n) for n in os.listdir(self.folder)]:
                os.chown(path, user.pw_uid, user.pw_gid)
        with open(self._path("squid.stderr"), "wb") as stderr:
            # Its own process group: its helpers stop with it.
            self._process = subprocess.Popen(
                [SQUID, "-N", "-f", self._path("squid.conf")], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=stderr, start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT
        while not all(_listening(port) for port in self.ports.values()):
            if time.monotonic() > deadline or self._process.poll() is not None:
                self.close()
                raise RuntimeError("squid did not start; see %s" % self._path("cache.log"))
            time.sleep(0.05)

    def _path(self, name):
        return os.path.join(self.folder, name)

    def _config(self, origin_port):
        lines = ["http_port 127.0.0.1:%d name=%s" % (port, name) for name, port in self.ports.items()]
        lines += [
            "pid_filename %s" % self._path("squid.pid"),
            "cache_log %s" % self._path("cache.log"),
            "cache_store_log none",
            "cache deny all",
            "cache_mem 1 MB",
            "coredump_dir %s" % self.folder,
            "pinger_enable off",
            "shutdown_lifetime 1 seconds",
            "hosts_file %s" % self._path("hosts"),
            # No DNS server: a name not in the hosts file does not resolve.
            "dns_nameservers 127.0.0.127",
            "dns_timeout 2 seconds",
            "connect_timeout 5 seconds",
            "logformat fixture %rm %ru %>Hs",
            "strip_query_terms off",
            "auth_param basic program %s %s" % (BASIC_AUTH, self._path("passwords")),
            "auth_param basic realm proxy-test",
            "auth_param ntlm program %s" % NTLM_AUTH,
            "acl CONNECT method CONNECT",
            "acl login proxy_auth REQUIRED",
        ]
        for name in PORTS:
            lines.append("acl port_%s myportname %s" % (name, name))
            lines.append("access_log stdio:%s fixture port_%s" % (self._path(name + ".access.log"), name))
        lines += [
            # Each port offers one scheme only.
            "auth_schemes basic port_basic",
            "auth_schemes ntlm port_ntlm",
            "http_access deny port_basic !login",
            "http_access deny port_ntlm !login",
            "http_access allow all",
            # Plain HTTP goes to the origin server whatever host it names;
            # CONNECT goes to the host the hosts file names.
            "cache_peer 127.0.0.1 parent %d 0 no-query originserver no-digest name=origin" % origin_port,
            "cache_peer_access origin deny CONNECT",
            "cache_peer_access origin allow all",
            "never_direct deny CONNECT",
            "never_direct allow all",
        ]
        return "\n".join(lines) + "\n"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._process and self._process.poll() is None:
            os.killpg(self._process.pid, signal.SIGTERM)
            try:
                self._process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self._process.pid, signal.SIGKILL)
                self._process.wait()
        self._process = None

    def address(self, name):
        return "127.0.0.1:%d" % self.ports[name]

    def requests(self, name):
        """[(method, url, status)] that the port answered, oldest first."""
        path = self._path(name + ".access.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            return [(m, u, int(s)) for m, u, s in (line.split() for line in f if len(line.split()) == 3)]

    def clear_logs(self):
        """Forgets what was served so far; squid keeps appending to the same files."""
        for name in PORTS:
            path = self._path(name + ".access.log")
            if os.path.exists(path):
                os.truncate(path, 0)
