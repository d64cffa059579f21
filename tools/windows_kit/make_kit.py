#!/usr/bin/python3
"""Assembles the Windows acceptance kit folder (see tools/windows-kit).

    make_kit.py --out DIR --port N --installer EXE --runner EXE --setup EXE --marker DLL

The folder gets the development-configured installer, the runner, the marker
DLL, a README and, under releases/, every release the scenarios serve. The
releases are signed here with the development signing key (not through
tools/publish-release, which refuses most of what the scenarios need to
serve), their addresses naming http://127.0.0.1:N (the runner's server); the
faulty ones are made from good ones afterwards, as an attacker or a broken
mirror would. releases/port.txt is written last: its presence means a whole kit.
"""
import argparse
import hashlib
import json
import os
import shutil
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import manifest_signing  # noqa: E402

KEY = os.path.join(ROOT, "tests", "keys", "dev-signing-key-1.pem")
SETUP_NAME = "KestrelumeSetup-1.4.2.exe"


def publish(site, setup, name, address, *extra, version="1.4.2", copy=False):
    """The manifest and signature publish-release writes, laid out as it lays
    them out; `extra` adds fields as "--name", "value" pairs."""
    with open(setup, "rb") as f:
        data = f.read()
    fields = {"version": version, "published": "2026-12-01T00:00:00Z", "url": address}
    options = dict(zip(extra[::2], extra[1::2]))
    if "--mirror" in options:
        fields["mirror"] = options.pop("--mirror")
    fields.update(sha256=hashlib.sha256(data).hexdigest(), size=len(data))
    if "--min-windows" in options:
        fields["min_windows"] = options.pop("--min-windows")
    fields["bootstrap_min"] = int(options.pop("--bootstrap-min", "1"))
    assert not options, options
    text = (json.dumps(fields, indent=2) + "\n").encode()
    update = os.path.join(site, name, "update")
    os.makedirs(update, exist_ok=True)
    with open(os.path.join(update, "stable.json"), "wb") as f:
        f.write(text)
    with open(os.path.join(update, "stable.json.sig"), "wb") as f:
        f.write(manifest_signing.signature_document(manifest_signing.load_key(KEY), text))
    os.makedirs(os.path.join(site, name, "releases"), exist_ok=True)
    if copy:
        shutil.copy(setup, os.path.join(site, name, "releases", os.path.basename(address)))
    return os.path.join(update, "stable.json")


def main():
    parser = argparse.ArgumentParser()
    for name in ("out", "port", "installer", "runner", "setup", "marker"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    base = "http://127.0.0.1:%d" % int(args.port)
    work = tempfile.mkdtemp(prefix="kestrelume-kit-")
    try:
        shutil.rmtree(out, ignore_errors=True)
        site = os.path.join(out, "releases")
        os.makedirs(site)
        shutil.copy(args.installer, os.path.join(out, "KestrelumeInstaller.exe"))
        shutil.copy(args.runner, os.path.join(out, "KestrelumeAcceptance.exe"))
        shutil.copy(args.marker, os.path.join(out, "marker.dll"))
        shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "README.txt"),
                    os.path.join(out, "README.txt"))

        setup = os.path.join(work, SETUP_NAME)
        shutil.copy(args.setup, setup)
        good = base + "/releases/" + SETUP_NAME
        # The release every good scenario installs, and the file itself.
        publish(site, setup, "", good, copy=True)
        # Changed after signing.
        manifest = publish(site, setup, "tampered", good)
        with open(manifest, "rb") as f:
            text = f.read()
        with open(manifest, "wb") as f:
            f.write(text.replace(b'"2026-12-01', b'"2027-12-01'))
        # Signed for a file of the same size with one byte changed.
        other = os.path.join(work, "other.exe")
        with open(setup, "rb") as f:
            data = bytearray(f.read())
        data[-1] ^= 0xFF
        with open(other, "wb") as f:
            f.write(data)
        publish(site, other, "wrong-digest", good)
        publish(site, setup, "mirror", base + "/missing/" + SETUP_NAME, "--mirror", good)
        publish(site, setup, "retired", good, "--bootstrap-min", "99")
        publish(site, setup, "too-old", good, "--min-windows", "99.0")
        # Verified, but no program: Windows refuses to start it.
        refused = os.path.join(work, "KestrelumeSetup-1.4.3.exe")
        with open(refused, "wb") as f:
            f.write(b"This is text, not a Windows program.\r\n" * 2000)
        publish(site, refused, "blocked", base + "/blocked/releases/KestrelumeSetup-1.4.3.exe", version="1.4.3")
        shutil.copy(refused, os.path.join(site, "blocked", "releases"))
        # A few megabytes, so that 40 % of it fills the installer's reads;
        # served through /stall/, which stops sending at 40 %.
        padded = os.path.join(work, "padded", SETUP_NAME)
        os.makedirs(os.path.dirname(padded))
        with open(setup, "rb") as f:
            program = f.read()
        with open(padded, "wb") as f:
            f.write(program + os.urandom(4 * 1024 * 1024))
        publish(site, padded, "stalled", base + "/stall/padded/" + SETUP_NAME)
        os.makedirs(os.path.join(site, "padded"))
        shutil.copy(padded, os.path.join(site, "padded", SETUP_NAME))

        with open(os.path.join(site, "port.txt"), "w") as f:
            f.write("%d\n" % int(args.port))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("kit: " + out)


if __name__ == "__main__":
    sys.exit(main())
