"""The installer's manifest rules, as the publisher checks them before signing.

Each rule here is the one the installer applies after it has verified the
signature (version grammar and floor, address policy, size and digest form,
the reader's bootstrap_min range, the fetch limit), so that a release the
publisher accepts is one the installer accepts. tests/tools checks the two
against each other through the installer's own code (tools/verify-release).
"""

import os
import re

_SOURCE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "src", "manifest")


def _constant(header, name, pattern):
    """A constant as the installer's source defines it, so the two cannot drift."""
    with open(os.path.join(_SOURCE, header), encoding="utf-8") as f:
        found = re.search(r"\b%s\s*=\s*%s;" % (name, pattern), f.read())
    if not found:
        raise RuntimeError("%s not found in src/manifest/%s" % (name, header))
    return found.group(1).replace("'", "")


VERSION_FLOOR = _constant("manifest.h", "kVersionFloor", r'"([0-9.]+)"')
BOOTSTRAP_LEVEL = int(_constant("manifest.h", "kBootstrapLevel", r"([0-9']+)"))
BOOTSTRAP_MIN_LIMIT = int(_constant("manifest_rules.h", "kBootstrapMinLimit", r"([0-9']+)"))
MANIFEST_LIMIT = 65536       # the installer fetches at most this many bytes


def parse_version(text):
    """Four components, or None: one to four dot-separated runs of 1 to 9
    ASCII digits, nothing else."""
    if not text:
        return None
    parts = text.split(".")
    if len(parts) > 4:
        return None
    components = []
    for part in parts:
        if not (1 <= len(part) <= 9) or not all("0" <= c <= "9" for c in part):
            return None
        components.append(int(part))
    return tuple(components + [0] * (4 - len(components)))


def compare_versions(a, b):
    left = parse_version(a) or (0, 0, 0, 0)
    right = parse_version(b) or (0, 0, 0, 0)
    return (left > right) - (left < right)


def host_of(address):
    """(host in lower case, https?) as the installer reads an address."""
    lowered = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in address)
    if lowered.startswith("https://"):
        start, https = 8, True
    elif lowered.startswith("http://"):
        start, https = 7, False
    else:
        return "", False
    end = len(lowered)
    for stop in "/?#":
        found = lowered.find(stop, start)
        if found >= 0:
            end = min(end, found)
    authority = lowered[start:end]
    if "@" in authority:
        return "", https
    if authority.startswith("["):
        # A bracketed IPv6 literal keeps its brackets; anything else about
        # the brackets names no host.
        close = authority.find("]")
        literal, rest = authority[1:close], authority[close + 1:]
        if (close < 3 or ":" not in literal or any(c not in "0123456789abcdef:." for c in literal)
                or (rest and rest[0] != ":") or (len(rest) > 1 and not _is_port(rest[1:]))):
            return "", https
        return authority[:close + 1], https
    host = authority.split(":", 1)[0]
    return ("" if "[" in host or "]" in host else host), https


def _is_port(text):
    return 1 <= len(text) <= 5 and text.isascii() and text.isdigit() and 1 <= int(text) <= 65535


LOCAL_HOSTS = ("127.0.0.1", "localhost", "[::1]")


def address_problem(address):
    """Why the installer's address policy refuses the address, or None."""
    host, https = host_of(address)
    if not host:
        if address.lower().startswith(("https://", "http://")):
            return "has no host (or a malformed [literal], or user information before an @)"
        return "is neither https:// nor http://"
    if https or host in LOCAL_HOSTS:
        return None
    return "is plain http to %s; plain http is allowed to 127.0.0.1, localhost and [::1] only" % host


def is_loopback_http(address):
    host, https = host_of(address)
    return not https and host in LOCAL_HOSTS
