"""Writes a signed release as static files, for a web server's document root
(nginx_server.py serves them in TLS tests and in tools/demo):

    manifest = write_release(root, setup_file, "https://localhost:PORT/releases/KestrelumeSetup-1.4.2.exe",
                             manifest_path="/update/stable.json", mirror="https://...")

puts the setup program at its address's path under root (when that address's
path is given as `setup_path`, default /releases/KestrelumeSetup-VERSION.exe),
the manifest at manifest_path and its signature document beside it (".sig"),
signed by tools/sign-manifest with development key 1. Returns the manifest as a dict.
"""

import hashlib
import json
import os
import shutil
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN = os.path.join(ROOT, "tools", "sign-manifest")
DEV_KEY_1 = os.path.join(ROOT, "tests", "keys", "dev-signing-key-1.pem")


def write_release(root, setup_file, url, version="1.4.2", manifest_path="/update/stable.json",
                  setup_path=None, key=DEV_KEY_1, **fields):
    with open(setup_file, "rb") as f:
        data = f.read()
    if setup_path is None:
        setup_path = "/releases/KestrelumeSetup-%s.exe" % version
    if setup_path:
        target = os.path.join(root, setup_path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(setup_file, target)
    manifest = {
        "version": version,
        "published": "2026-12-01T00:00:00Z",
        "url": url,
        "sha256": hashlib.sha256(data).hexdigest(),
        "size": len(data),
        "min_windows": "6.1",
        "bootstrap_min": 1,
    }
    manifest.update(fields)
    manifest_file = os.path.join(root, manifest_path.lstrip("/"))
    os.makedirs(os.path.dirname(manifest_file), exist_ok=True)
    with open(manifest_file, "w") as f:
        f.write(json.dumps(manifest, indent=2) + "\n")
    subprocess.run(["/usr/bin/python3", SIGN, key, manifest_file], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return manifest
