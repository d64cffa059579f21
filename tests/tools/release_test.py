#!/usr/bin/python3
"""The release tools against the installer's own code: publish-release
refuses untrusted keys, wrong setup programs, steps back and overwrites (its
field rules are publish_rules_test.py's); a published folder verifies, serves
from nginx (with the README's server block) and installs; a changed or broken
release is caught by verify-release and the installer alike, with the reason
named; a publisher's day runs from new keys to a key rotation; and
sign-installer's Authenticode signature verifies and keeps the installer
working, while what must not be signed is refused."""

import datetime
import hashlib
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "app"))
import e2e_support as e2e  # noqa: E402
from e2e_support import windows_path  # noqa: E402

sys.path.insert(0, e2e.TOOLS)
import manifest_signing  # noqa: E402
from nginx_server import NginxServer, Site  # noqa: E402
from test_ca import TestCertificates  # noqa: E402

PUBLISH = os.path.join(e2e.TOOLS, "publish-release")
VERIFY = os.path.join(e2e.TOOLS, "verify-release")
SIGN = os.path.join(e2e.TOOLS, "sign-installer")
SIGN_MANIFEST = os.path.join(e2e.TOOLS, "sign-manifest")
KEY_1 = os.path.join(e2e.SOURCE_DIR, "tests", "keys", "dev-signing-key-1.pem")
KEY_2 = os.path.join(e2e.SOURCE_DIR, "tests", "keys", "dev-signing-key-2.pem")
SETUP_PATH = "/releases/KestrelumeSetup-1.4.2.exe"

PREFIX = None
NGINX = None
CERTS = None
WORK = None


def readme_release_locations():
    """The location blocks of the README's example server block: what a
    release host adds to its server, and what this test serves with."""
    with open(os.path.join(e2e.SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        lines = f.read().split("\n## Shipping a release", 1)[1].splitlines()
    start = lines.index("    server {")
    end = lines.index("    }", start)
    body = lines[start + 1:end]
    first = next(i for i, line in enumerate(body) if line.strip().startswith("location"))
    return "\n".join(line[8:] for line in body[first:])


def setUpModule():
    global PREFIX, NGINX, CERTS, WORK
    WORK = tempfile.mkdtemp(prefix="kestrelume-release-test-", dir=e2e.BUILD_DIR)
    PREFIX = e2e.open_module_prefix()
    try:
        CERTS = TestCertificates(os.path.join(WORK, "certs"))
        CERTS.ca.trust_in_prefix(PREFIX.path, os.path.join(e2e.BUILD_DIR, "add_root_cert.exe"),
                                 env=PREFIX.env())
        NGINX = NginxServer([Site("release", cert=CERTS.trusted, extra=readme_release_locations())],
                            folder=os.path.join(WORK, "nginx"), lifetime=900)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if NGINX:
        NGINX.close()
    e2e.close_module_prefix(PREFIX)
    if WORK:
        shutil.rmtree(WORK, ignore_errors=True)


KEY_SOURCES = ("--keys", "--build", "--installer", "--dev-keys")


def tool_environment():
    return dict(os.environ, KESTRELUME_BUILD_DIR=e2e.BUILD_DIR, KESTRELUME_WINEPREFIX=PREFIX.path)


def publish(setup, out, *options, key=KEY_1):
    """publish-release as a publisher runs it; the development keys unless
    the options name other keys."""
    options = list(options)
    if not any(option in KEY_SOURCES for option in options):
        options.append("--dev-keys")
    return subprocess.run(["/usr/bin/python3", PUBLISH, setup, "--key", key, "--out", out] + options,
                          capture_output=True, text=True, timeout=120, env=tool_environment(),
                          stdin=subprocess.DEVNULL)


def verify(target, *options, default_keys=True, env=None):
    options = list(options)
    if default_keys and not any(option in KEY_SOURCES for option in options):
        options.append("--dev-keys")
    return subprocess.run([VERIFY, target] + options, capture_output=True, text=True, timeout=120,
                          env=env or tool_environment(), stdin=subprocess.DEVNULL)


def public_key(path):
    return manifest_signing.public_hex(manifest_signing.load_key(path))


def verifies(public_hex, manifest, signature):
    """Python's own ECDSA check of a signature document, for files the
    installer's code is not asked about."""
    import base64
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature
    raw = base64.b64decode(signature)
    key = ec.EllipticCurvePublicNumbers(int(public_hex[:64], 16), int(public_hex[64:], 16),
                                        ec.SECP256R1()).public_key()
    try:
        key.verify(encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big")),
                   manifest, ec.ECDSA(hashes.SHA256()))
        return True
    except InvalidSignature:
        return False


def files_under(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, files in os.walk(folder) for f in files)


def sign_unchecked(folder, fields):
    """Writes and signs the manifest publish-release would have written had it
    not refused, so that the installer's own verdict on it can be asked."""
    text = (json.dumps(fields, indent=2, ensure_ascii=False) + "\n").encode()
    os.makedirs(os.path.join(folder, "update"), exist_ok=True)
    with open(os.path.join(folder, "update", "stable.json"), "wb") as f:
        f.write(text)
    with open(os.path.join(folder, "update", "stable.json.sig"), "wb") as f:
        f.write(manifest_signing.signature_document(manifest_signing.load_key(KEY_1), text))


def install(manifest_url, folder, exe=e2e.INSTALLER):
    work = os.path.join(folder, "work")
    shutil.rmtree(work, ignore_errors=True)
    code, token = e2e.run_to_outcome(PREFIX, ["--manifest-url", manifest_url, "--work-dir", windows_path(work)],
                                     folder, exe=exe)
    return token


def versioned_program(folder, version):
    """A Windows x86-64 program whose version resource names `version`,
    built with the cross toolchain as a setup program's build would."""
    numbers = ",".join((version.split(".") + ["0"] * 4)[:4])
    stem = os.path.join(folder, "setup-%s" % version)
    with open(stem + ".rc", "w") as f:
        f.write("1 VERSIONINFO\nFILEVERSION %s\nPRODUCTVERSION %s\nBEGIN\nEND\n" % (numbers, numbers))
    with open(stem + ".c", "w") as f:
        f.write("int main(void) { return 0; }\n")
    subprocess.run(["x86_64-w64-mingw32-windres", "-O", "coff", stem + ".rc", "-o", stem + ".res.o"], check=True)
    subprocess.run(["x86_64-w64-mingw32-gcc-posix", "-s", stem + ".c", stem + ".res.o", "-o", stem + ".exe"],
                   check=True)
    return stem + ".exe"


def snapshot(folder):
    """Each file under folder with its bytes, to show that nothing changed."""
    result = {}
    for name in files_under(folder) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


class PublishGuardTest(unittest.TestCase):
    URL = "https://download.example.com/releases/KestrelumeSetup-%s.exe"

    def test_keys_and_setup_programs_are_refused_naming_the_problem(self):
        folder = e2e.new_folder(self)
        text = os.path.join(folder, "notes.exe")
        with open(text, "wb") as f:
            f.write(b"hello\n")
        v141 = versioned_program(folder, "1.4.1")
        v143 = versioned_program(folder, "1.4.3")
        dev_1, dev_2 = public_key(KEY_1), public_key(KEY_2)
        build = os.path.join(folder, "release-build")
        os.makedirs(build)
        with open(os.path.join(build, "toolchain.txt"), "w") as f:
            f.write("Kestrelume installer build\nbuild type: MinSizeRel\ntrusted keys: %s;%s\n" % (dev_2, dev_2))
        # (setup program, options, refusal naming what, or None: published, and the warnings it prints)
        cases = [
            (v143, [], "the keys the installer trusts are needed", None),
            (v143, ["--keys", dev_2], "key: %s's public half %s... is not one of the keys the installer trusts"
             % (KEY_1, dev_1[:16]), None),
            (v143, ["--build", build], "is not one of the keys the installer trusts (%s" % build, None),
            (v143, ["--installer", e2e.FAKE_SETUP], "carries no record of trusted keys", None),
            (v143, ["--keys", dev_1, "--dev-keys"], "give one of --keys, --build, --installer, --dev-keys", None),
            (e2e.INSTALLER, ["--dev-keys"], "setup program: %s is a Kestrelume installer" % e2e.INSTALLER, None),
            (text, ["--dev-keys"], "setup program: %s is not a Windows x86-64 program: it does not start" % text,
             None),
            ("/bin/true", ["--dev-keys"], "setup program: /bin/true is not a Windows x86-64 program", None),
            (v141, ["--dev-keys"], "version: %s is version 1.4.1.0 by its version resource, not 1.4.3" % v141,
             None),
            # Accepted: the keys the development installer carries; a program of
            # the right version, unsigned; one without a version resource.
            (v143, ["--installer", e2e.INSTALLER], None, ["carries no Authenticode signature"]),
            (e2e.FAKE_SETUP, ["--keys", "%s;%s" % (dev_2, dev_1)], None,
             ["has no version resource", "carries no Authenticode signature"]),
        ]
        # Asked directly, an installer names the keys it carries.
        for program, code, output in [(e2e.INSTALLER, 0, "%s;%s\n" % (dev_1, dev_2)), (e2e.FAKE_SETUP, 1, "")]:
            asked = subprocess.run([os.path.join(e2e.TOOLS, "trusted_keys.py"), "--installer", program],
                                   capture_output=True, text=True)
            self.assertEqual((asked.returncode, asked.stdout), (code, output), asked.stderr)
        for setup, options, refusal, warnings in cases:
            with self.subTest(os.path.basename(setup) + " " + " ".join(options)[:40]):
                out = os.path.join(folder, "out")
                shutil.rmtree(out, ignore_errors=True)
                result = subprocess.run(["/usr/bin/python3", PUBLISH, setup, "--key", KEY_1, "--out", out,
                                         "--version", "1.4.3", "--url", self.URL % "1.4.3"] + options,
                                        capture_output=True, text=True, timeout=120, env=tool_environment(),
                                        stdin=subprocess.DEVNULL)
                if refusal:
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn("refused, nothing written: ", result.stderr)
                    self.assertIn(refusal, result.stderr)
                    self.assertFalse(os.path.exists(out))
                else:
                    self.assertEqual(result.returncode, 0, result.stderr)
                    for warning in warnings:
                        self.assertIn(warning, result.stderr)
                    self.assertEqual("has no version resource" in result.stderr,
                                     "has no version resource" in warnings)
                    checked = verify(out, "--setup", setup, *options)
                    self.assertEqual(checked.returncode, 0, checked.stdout)

    def test_versions_move_forward_unless_rolled_back_with_history_and_dry_run(self):
        folder = e2e.new_folder(self)
        out = os.path.join(folder, "site")
        programs = {v: versioned_program(folder, v) for v in ("1.4.1", "1.4.2", "1.4.3")}

        def step(version, *options, url_version=None):
            return publish(programs[version], out, "--version", version, "--copy-setup",
                           "--url", self.URL % (url_version or version), *options)

        result = step("1.4.2", "--published", "2026-12-01T00:00:00Z")
        self.assertEqual(result.returncode, 0, result.stderr)
        # (version, options, refusal or None, live version after it)
        cases = [
            ("1.4.1", [], "version: 1.4.1 is below the live version 1.4.2", "1.4.2"),
            ("1.4.2", ["--published", "2026-12-02T00:00:00Z"], "version: 1.4.2 is live already with other bytes",
             "1.4.2"),
            # The live manifest again: only its signature is made anew.
            ("1.4.2", ["--published", "2026-12-01T00:00:00Z"], None, "1.4.2"),
            # A published setup program is never replaced by other bytes.
            ("1.4.3", [], "url: %s exists with other bytes"
             % os.path.join(out, "releases", "KestrelumeSetup-1.4.2.exe"), "1.4.2"),
            ("1.4.3", ["--dry-run"], None, "1.4.2"),
            ("1.4.3", [], None, "1.4.3"),
            ("1.4.2", [], "version: 1.4.2 is below the live version 1.4.3", "1.4.3"),
            ("1.4.2", ["--rollback", "--published", "2026-12-03T00:00:00Z"], None, "1.4.2"),
        ]
        for number, (version, options, refusal, live) in enumerate(cases):
            with self.subTest("%d: %s %s" % (number, version, " ".join(options))):
                before = snapshot(out)
                url_version = "1.4.2" if refusal and "exists with other bytes" in refusal else None
                result = step(version, *options, url_version=url_version)
                if refusal or "--dry-run" in options:
                    self.assertEqual(result.returncode, 1 if refusal else 0, result.stderr)
                    self.assertIn(refusal or "dry run, nothing written", result.stderr + result.stdout)
                    self.assertEqual(snapshot(out), before)
                else:
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual("rolled back" in result.stderr, "--rollback" in options)
                with open(os.path.join(out, "update", "stable.json")) as f:
                    self.assertEqual(json.load(f)["version"], live)
                checked = verify(out)
                self.assertEqual(checked.returncode, 0, checked.stdout)
                self.assertIn("version:       " + live, checked.stdout)
                if "--dry-run" in options:
                    self.assertIn('\n-  "version": "1.4.2",\n', result.stdout)
                    self.assertIn('\n+  "version": "1.4.3",\n', result.stdout)
                    self.assertIn('\n   "size": %d,\n' % os.path.getsize(programs["1.4.3"]), result.stdout)
                    self.assertIn('"url": "%s"' % (self.URL % "1.4.3"), result.stdout)
        history = [f for f in files_under(out) if f.startswith("update/history/") and f.endswith(".json")]
        self.assertEqual(len(history), 4, history)
        for name in history:
            checked = subprocess.run(["/usr/bin/python3", SIGN_MANIFEST, "--public-key", KEY_1],
                                     capture_output=True, text=True)
            with open(os.path.join(out, name), "rb") as f, open(os.path.join(out, name + ".sig"), "rb") as g:
                self.assertTrue(verifies(checked.stdout.strip(), f.read(), g.read()), name)

    def test_setup_program_reaches_the_host_first_and_each_file_by_rename(self):
        folder = e2e.new_folder(self)
        out = os.path.join(folder, "site")
        result = publish(e2e.FAKE_SETUP, out, "--version", "1.4.2", "--copy-setup", "--url", self.URL % "1.4.2")
        self.assertEqual(result.returncode, 0, result.stderr)
        written = [line[len("wrote "):] for line in result.stdout.splitlines() if line.startswith("wrote ")]
        names = [os.path.relpath(path, out) for path in written]
        self.assertEqual(names[0], os.path.join("releases", "KestrelumeSetup-1.4.2.exe"))
        self.assertEqual(names[-2:], ["update/stable.json.sig", "update/stable.json"])
        # Each took its name by rename after it was whole: the name's change
        # time comes after its bytes were written, in the order printed.
        times = [os.stat(path).st_ctime_ns for path in written]
        self.assertEqual(times, sorted(times))
        self.assertEqual(files_under(out), sorted(names))
        for path in written:
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o644, path)


class ServedReleaseTest(unittest.TestCase):

    def setUp(self):
        self.folder = e2e.new_folder(self)
        self.root = NGINX.root("release")
        shutil.rmtree(self.root)
        os.makedirs(self.root)
        NGINX.clear_logs()
        self.manifest_url = NGINX.url("release", "/update/stable.json")
        result = publish(e2e.FAKE_SETUP, self.root, "--version", "1.4.2", "--copy-setup",
                         "--url", NGINX.url("release", SETUP_PATH), "--min-windows", "6.1")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.setup_file = os.path.join(self.root, SETUP_PATH[1:])

    def test_published_folder_verifies_is_served_with_cache_rules_and_installs(self):
        history = [f for f in files_under(self.root) if f.startswith("update/history/")]
        self.assertEqual(files_under(self.root),
                         ["releases/KestrelumeSetup-1.4.2.exe"] + history + ["update/stable.json",
                                                                            "update/stable.json.sig"])
        self.assertRegex(" ".join(history), r"^update/history/index\.txt update/history/stable-1\.4\.2-\S+\.json "
                                            r"update/history/stable-1\.4\.2-\S+\.json\.sig$")
        checked = verify(self.root)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertIn("signature:     verified by key 1", checked.stdout)
        self.assertIn("check:         Ok", checked.stdout)
        self.assertIn("size:          %d" % os.path.getsize(e2e.FAKE_SETUP), checked.stdout)
        self.assertIn("KestrelumeSetup-1.4.2.exe: size and SHA-256 match", checked.stdout)

        context = ssl.create_default_context(cafile=CERTS.ca.pem_path)
        for path, lifetime in [("/update/stable.json", "max-age=60"), ("/update/stable.json.sig", "max-age=60"),
                               (SETUP_PATH, "immutable")]:
            with urllib.request.urlopen(NGINX.url("release", path), context=context, timeout=10) as answer:
                self.assertIn(lifetime, answer.headers["Cache-Control"], path)

        self.assertEqual(install(self.manifest_url, self.folder), "launched")
        downloads = [(r["path"], r["query"]) for r in NGINX.requests("release") if r["path"] == SETUP_PATH
                     and r["user_agent"] == "KestrelumeInstaller/1"]
        self.assertEqual(downloads, [(SETUP_PATH, "via=bootstrap")])

        checked = verify(self.manifest_url)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertIn("setup:         %d bytes, size and SHA-256 match" % os.path.getsize(e2e.FAKE_SETUP),
                      checked.stdout)

    def test_changed_manifest_wrong_keys_digest_and_truncation_are_caught_with_the_reason(self):
        manifest = os.path.join(self.root, "update", "stable.json")
        with open(manifest, "rb") as f:
            original = f.read()
        with open(self.setup_file, "rb") as f:
            setup = f.read()
        other_key = manifest_signing.public_hex(manifest_signing.load_key(KEY_2))

        with open(manifest, "wb") as f:
            f.write(original.replace(b'"min_windows": "6.1"', b'"min_windows": "6.0"'))
        for target in (self.root, self.manifest_url):
            checked = verify(target)
            self.assertEqual(checked.returncode, 1, checked.stdout)
            self.assertIn("signature:     NOT verified by any of the 2 keys", checked.stdout)
        self.assertEqual(install(self.manifest_url, self.folder), "verify")
        with open(manifest, "wb") as f:
            f.write(original)

        checked = verify(self.manifest_url, "--keys", other_key)
        self.assertEqual(checked.returncode, 1)
        self.assertIn("NOT verified by any of the 1 keys", checked.stdout)

        faults = [("digest", setup[:-1] + bytes([setup[-1] ^ 1]), "DigestMismatch: %d bytes" % len(setup)),
                  ("truncated", setup[:len(setup) // 2],
                   "the download ended after %d of %d bytes" % (len(setup) // 2, len(setup)))]
        for name, served, reason in faults:
            with self.subTest(name):
                with open(self.setup_file, "wb") as f:
                    f.write(served)
                checked = verify(self.manifest_url)
                self.assertEqual(checked.returncode, 1, checked.stdout)
                self.assertIn("setup FAILED:  ", checked.stdout)
                self.assertIn(reason, checked.stdout)


class VerifyReleaseTest(unittest.TestCase):

    def test_help_and_missing_keys_are_answered_before_anything_is_built(self):
        empty = e2e.new_folder(self)
        env = dict(os.environ, KESTRELUME_BUILD_DIR=empty, KESTRELUME_WINEPREFIX=os.path.join(empty, "prefix"))
        # (arguments, exit code, text on stdout, text on stderr)
        cases = [
            (["--help"], 0, "--keys", ""),
            (["-h"], 0, "--dev-keys", ""),
            ([empty], 2, "", "the keys the installer trusts are needed to judge a release"),
            ([os.path.join(empty, "nowhere"), "--dev-keys"], 2, "", "is neither an address nor a folder"),
            ([empty, "--keys", "abc"], 2, "", "'abc' is not one or two keys of 128 lower-case hex characters"),
        ]
        for arguments, code, out, err in cases:
            with self.subTest(" ".join(arguments)):
                result = verify(*arguments, default_keys=False, env=env)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(out, result.stdout)
                self.assertIn(err, result.stderr)
                self.assertNotIn("building", result.stdout + result.stderr)
                self.assertEqual(os.listdir(empty), [])


class VerifyServedReleaseTest(unittest.TestCase):

    def test_keys_missing_files_statuses_and_mirrors_are_judged_and_named(self):
        folder = e2e.new_folder(self)
        root = NGINX.root("release")
        shutil.rmtree(root)
        os.makedirs(root)
        with open(e2e.FAKE_SETUP, "rb") as f:
            program = f.read()
        good = NGINX.url("release", SETUP_PATH)
        other = NGINX.url("release", "/releases/other.exe")
        NGINX.put("release", SETUP_PATH[1:], program)
        NGINX.put("release", "releases/other.exe", program[:-1] + bytes([program[-1] ^ 1]))
        down = "http://127.0.0.1:1/KestrelumeSetup-1.4.2.exe"
        release_key = os.path.join(folder, "release.pem")
        subprocess.run(["/usr/bin/python3", SIGN_MANIFEST, "--generate", release_key], check=True)
        release_keys = ["--keys", public_key(release_key) + ";" + public_key(KEY_2)]
        base = dict(version="1.4.2", published="2026-12-01T00:00:00Z", url=good,
                    sha256=hashlib.sha256(program).hexdigest(), size=len(program), bootstrap_min=1)
        manifest_url = NGINX.url("release", "/update/stable.json")
        # (manifest fields changed, target, options, exit code, lines expected)
        cases = [
            ({}, manifest_url, [], 0, ["setup:         %d bytes" % len(program), "verdict:       INSTALLABLE"]),
            ({}, manifest_url, release_keys, 1,
             ["NOT verified by any of the 2 keys", "it is signed with a development key (tests/keys)"]),
            ({"mirror": down}, manifest_url, [], 0,
             ["mirror WARNING: NetworkError: no connection", "verdict:       INSTALLABLE"]),
            ({"mirror": other}, manifest_url, [], 1, ["mirror FAILED: DigestMismatch", "NOT INSTALLABLE"]),
            ({"url": down, "mirror": good}, manifest_url, [], 0,
             ["setup FAILED:  NetworkError", "mirror setup:  %d bytes" % len(program)]),
            ({"url": NGINX.url("release", "/releases/gone.exe")}, manifest_url, [], 1,
             ["setup FAILED:  HttpError: %s?via=bootstrap answers status 404"
              % NGINX.url("release", "/releases/gone.exe")]),
            ({}, NGINX.url("release", "/update/beta.json"), [], 1,
             ["FAILED:        manifest: HttpError: %s answers status 404" % NGINX.url("release", "/update/beta.json")]),
            ({"url": NGINX.url("release", "/releases/gone.exe")}, root, [], 1,
             ["setup FAILED:  not in the folder", "NOT INSTALLABLE"]),
            ({"min_windows": "10.x", "sha256": "12"}, root, [], 1,
             ["check:         Invalid (a field is missing or malformed): sha256, min_windows",
              "refused field: sha256", "refused field: min_windows"]),
        ]
        for number, (changes, target, options, code, expected) in enumerate(cases):
            with self.subTest("%d: %s" % (number, " ".join("%s=%s" % item for item in changes.items()))):
                sign_unchecked(root, dict(base, **changes))
                checked = verify(target, *options)
                self.assertEqual(checked.returncode, code, checked.stdout + checked.stderr)
                for line in expected:
                    self.assertIn(line, checked.stdout)

    def test_a_wrong_key_is_told_from_a_manifest_changed_after_signing(self):
        folder = e2e.new_folder(self)
        root = NGINX.root("release")
        shutil.rmtree(root)
        os.makedirs(root)
        keys = {}
        for name in ("one", "two", "three"):
            keys[name] = os.path.join(folder, name + ".pem")
            subprocess.run(["/usr/bin/python3", SIGN_MANIFEST, "--generate", keys[name]], check=True)
        trusted = "%s;%s" % (public_key(keys["one"]), public_key(keys["two"]))
        result = publish(e2e.FAKE_SETUP, root, "--version", "1.4.2", "--copy-setup", "--keys", trusted,
                         "--url", NGINX.url("release", SETUP_PATH), key=keys["one"])
        self.assertEqual(result.returncode, 0, result.stderr)
        manifest = os.path.join(root, "update", "stable.json")
        with open(manifest, "rb") as f:
            signed = f.read()
        edited = signed.replace(b'"bootstrap_min": 1', b'"bootstrap_min": 0')
        no_record = "(update/history/ has no record of this signature to tell which)"
        # (served manifest, keys verify-release is given, history kept, the reason given)
        cases = [
            (edited, trusted, True, "the manifest was changed after it was signed: update/history/ holds the "
                                    "signed bytes, which these keys verify"),
            (edited, public_key(keys["three"]), True, "the manifest was changed after it was signed: "
                                                      "update/history/ holds the signed bytes, which these keys "
                                                      "do not verify either"),
            (signed, "%s;%s" % (public_key(keys["two"]), public_key(keys["three"])), True,
             "wrong key: the manifest is the one that was signed"),
            (signed, public_key(keys["three"]), False, no_record),
            (edited, trusted, False, no_record),
        ]
        history = os.path.join(root, "update", "history")
        for served, given, kept, reason in cases:
            with self.subTest("%s %s %s" % ("edited" if served == edited else "signed", given[:8], kept)):
                with open(manifest, "wb") as f:
                    f.write(served)
                if not kept and os.path.exists(history):
                    os.rename(history, history + "-away")
                if kept and os.path.exists(history + "-away"):
                    os.rename(history + "-away", history)
                for target in (root, NGINX.url("release", "/update/stable.json")):
                    checked = verify(target, "--keys", given)
                    self.assertEqual(checked.returncode, 1, checked.stdout + checked.stderr)
                    self.assertIn("signature:     NOT verified", checked.stdout)
                    self.assertIn(reason, checked.stdout)


class PublisherDayTest(unittest.TestCase):
    """A publisher's day, from new keys to a key rotation, each step checked
    against the release build's own record of the keys it trusts."""

    def test_keys_build_publish_downgrade_rollback_and_rotation(self):
        folder = e2e.new_folder(self)
        keys = {}
        for name in ("a", "b", "c"):
            keys[name] = os.path.join(folder, name + ".pem")
            subprocess.run(["/usr/bin/python3", SIGN_MANIFEST, "--generate", keys[name]], check=True)

        def configure(name, first, second):
            build = os.path.join(folder, name)
            result = subprocess.run(["cmake", "--preset", "release", "-B", build,
                                     "-DKESTRELUME_TRUSTED_KEYS=%s;%s" % (public_key(keys[first]),
                                                                         public_key(keys[second]))],
                                    cwd=e2e.SOURCE_DIR, capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            return build

        first_build = configure("release-ab", "a", "b")
        programs = {v: versioned_program(folder, v) for v in ("1.4.2", "1.4.3")}
        root = NGINX.root("release")
        shutil.rmtree(root)
        os.makedirs(root)
        live = NGINX.url("release", "/update/stable.json")

        def publish_step(version, key, *options):
            return publish(programs[version], root, "--version", version, "--copy-setup", "--live", live,
                           "--url", NGINX.url("release", "/releases/KestrelumeSetup-%s.exe" % version),
                           "--build", first_build, *options, key=keys[key])

        # (step, version, signing key, options, refusal or None, live version after, key that verifies)
        steps = [
            ("first release", "1.4.2", "a", [], None, "1.4.2", 1),
            ("next release", "1.4.3", "a", [], None, "1.4.3", 1),
            ("downgrade", "1.4.2", "a", [], "version: 1.4.2 is below the live version 1.4.3", "1.4.3", 1),
            ("key of another build", "1.4.3", "c", [], "is not one of the keys the installer trusts", "1.4.3", 1),
            ("roll back", "1.4.2", "a", ["--rollback", "--published", "2026-12-05T00:00:00Z"], None, "1.4.2", 1),
            # Rotation: the live manifest, byte for byte, signed with the standby key.
            ("re-sign with the standby key", "1.4.2", "b", ["--published", "2026-12-05T00:00:00Z"], None,
             "1.4.2", 2),
        ]
        for name, version, key, options, refusal, live_version, verifying_key in steps:
            with self.subTest(name):
                result = publish_step(version, key, *options)
                if refusal:
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn(refusal, result.stderr)
                else:
                    self.assertEqual(result.returncode, 0, result.stderr)
                checked = verify(live, "--build", first_build)
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                self.assertIn("version:       " + live_version, checked.stdout)
                self.assertIn("signature:     verified by key %d" % verifying_key, checked.stdout)
                self.assertIn("toolchain.txt", checked.stdout)

        # Installers of the next pair (standby key first, a new standby) ship
        # now; both generations must verify what is live.
        next_build = configure("release-bc", "b", "c")
        for build, verifying_key in ((first_build, 2), (next_build, 1)):
            checked = verify(live, "--build", build)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            self.assertIn("signature:     verified by key %d" % verifying_key, checked.stdout)
        # The old key is not one the next generation trusts.
        result = publish(programs["1.4.3"], root, "--version", "1.4.3", "--copy-setup", "--live", live,
                         "--url", NGINX.url("release", "/releases/KestrelumeSetup-1.4.3.exe"),
                         "--build", next_build, key=keys["a"])
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("is not one of the keys the installer trusts", result.stderr)


class SignInstallerTest(unittest.TestCase):

    def test_signed_installer_verifies_with_its_ca_and_still_installs(self):
        folder = e2e.new_folder(self)
        ca, signer = make_code_signing_pki(folder)
        signed = os.path.join(folder, "KestrelumeInstaller.exe")
        shutil.copyfile(e2e.INSTALLER, signed)
        timestamps = start_timestamp_server(self, folder, signer)
        result = subprocess.run(["/usr/bin/python3", SIGN, signed, "--pkcs12", signer["p12"],
                                 "--password-file", signer["password"], "--ca", ca["pem"],
                                 "--timestamp", timestamps, "--allow-development-build"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        with_pem = os.path.join(folder, "from-pem.exe")
        result = subprocess.run(["/usr/bin/python3", SIGN, e2e.INSTALLER, "--cert", signer["cert"],
                                 "--key", signer["key"], "--ca", ca["pem"], "-o", with_pem, "--no-timestamp",
                                 "--allow-development-build"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)

        for path in (signed, with_pem):
            checked = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", ca["pem"],
                                      "-TSA-CAfile", ca["pem"]],
                                     capture_output=True, text=True, timeout=60)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            self.assertIn("Text description: Kestrelume Installer", checked.stdout)
            self.assertIn("URL description: https://%s/" % e2e.WEBSITE_HOST, checked.stdout)
            self.assertIn("Message digest algorithm  : SHA256", checked.stdout)
            self.assertEqual("Timestamp Server Signature verification: ok" in checked.stdout, path == signed)
            # Another authority does not vouch for it.
            stranger = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", CERTS.ca.pem_path],
                                      capture_output=True, text=True, timeout=60)
            self.assertNotEqual(stranger.returncode, 0)

        root = NGINX.root("release")
        shutil.rmtree(root)
        result = publish(e2e.FAKE_SETUP, root, "--version", "1.4.2", "--copy-setup",
                         "--url", NGINX.url("release", SETUP_PATH))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(install(NGINX.url("release", "/update/stable.json"), folder, exe=signed), "launched")


    def test_development_builds_missing_timestamps_and_failed_steps_leave_the_file_alone(self):
        folder = e2e.new_folder(self)
        ca, signer = make_code_signing_pki(folder)
        stranger_ca = os.path.join(folder, "stranger-ca.pem")
        shutil.copyfile(CERTS.ca.pem_path, stranger_ca)
        timestamps = start_timestamp_server(self, folder, signer)
        # A release-like program: no automation options in it.
        release = os.path.join(folder, "release", "KestrelumeInstaller.exe")
        development = os.path.join(folder, "dev", "KestrelumeInstaller.exe")
        for source, copy in ((e2e.FAKE_SETUP, release), (e2e.INSTALLER, development)):
            os.makedirs(os.path.dirname(copy))
            shutil.copyfile(source, copy)
        # (program, options, exit code, message, file signed afterwards)
        cases = [
            (development, ["--timestamp", timestamps], 1, "%s is a development build" % development, False),
            (release, [], 2, "give --timestamp URL", False),
            (release, ["--timestamp", timestamps, "--no-timestamp"], 2, "give --timestamp URL", False),
            (release, ["--timestamp", "http://127.0.0.1:1/"], 1,
             "osslsigncode could not sign %s; %s is unchanged" % (release, release), False),
            (release, ["--timestamp", timestamps, "--ca", stranger_ca], 1,
             "the signed copy does not verify; %s is unchanged" % release, False),
            (release, ["--timestamp", timestamps], 0, "signed and verified: %s" % release, True),
        ]
        for program, options, code, message, signed in cases:
            with self.subTest(os.path.basename(os.path.dirname(program)) + " " + " ".join(options)[:50]):
                with open(program, "rb") as f:
                    before = f.read()
                command = ["/usr/bin/python3", SIGN, program, "--pkcs12", signer["p12"],
                           "--password-file", signer["password"]] + options
                if "--ca" not in options:
                    command += ["--ca", ca["pem"]]
                result = subprocess.run(command, capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(message, result.stdout + result.stderr)
                if code:
                    self.assertNotIn("Succeeded", result.stdout + result.stderr)
                with open(program, "rb") as f:
                    self.assertEqual(f.read() != before, signed)
                self.assertEqual(os.listdir(os.path.dirname(program)), ["KestrelumeInstaller.exe"])


def start_timestamp_server(test, folder, signer):
    """An RFC 3161 timestamp server on 127.0.0.1 (openssl ts answers each
    request with the signer's TSA certificate); returns its address."""
    import http.server
    import threading
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write("[tsa]\ndefault_tsa = k\n[k]\nserial = %s\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                "digests = sha256\ness_cert_id_alg = sha256\n" % os.path.join(folder, "tsa.serial"))
    with open(os.path.join(folder, "tsa.serial"), "w") as f:
        f.write("01\n")

    class Stamper(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = os.path.join(folder, "query.tsq")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                                    "-signer", signer["tsa_cert"], "-inkey", signer["tsa_key"]],
                                   capture_output=True, timeout=30).stdout
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Stamper)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    test.addCleanup(server.server_close)
    test.addCleanup(server.shutdown)
    return "http://127.0.0.1:%d/" % server.server_address[1]


def make_code_signing_pki(folder):
    """A throwaway RSA CA, and an RSA code-signing certificate and a
    timestamping certificate it issued."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.hazmat.primitives.serialization import pkcs12
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)

    def name(text):
        return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])

    ca_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    ca_cert = (x509.CertificateBuilder().subject_name(name("Kestrelume Test Code Signing CA"))
               .issuer_name(name("Kestrelume Test Code Signing CA")).public_key(ca_key.public_key())
               .serial_number(x509.random_serial_number()).not_valid_before(now - day)
               .not_valid_after(now + 30 * day)
               .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
               .sign(ca_key, hashes.SHA256()))
    def issue(subject, usage):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        cert = (x509.CertificateBuilder().subject_name(name(subject))
                .issuer_name(ca_cert.subject).public_key(key.public_key())
                .serial_number(x509.random_serial_number()).not_valid_before(now - day)
                .not_valid_after(now + 30 * day)
                .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
                .add_extension(x509.ExtendedKeyUsage([usage]), critical=True)
                .sign(ca_key, hashes.SHA256()))
        return key, cert

    key, cert = issue("Kestrelume Test Publisher", ExtendedKeyUsageOID.CODE_SIGNING)
    tsa_key, tsa_cert = issue("Kestrelume Test Timestamps", ExtendedKeyUsageOID.TIME_STAMPING)
    pem = serialization.Encoding.PEM
    files = {"pem": cert.public_bytes(pem) + ca_cert.public_bytes(pem),
             "ca": ca_cert.public_bytes(pem),
             "key": key.private_bytes(pem, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()),
             "p12": pkcs12.serialize_key_and_certificates(b"publisher", key, cert, [ca_cert],
                                                          serialization.BestAvailableEncryption(b"s3cret")),
             "password": b"s3cret\n",
             "tsa_cert": tsa_cert.public_bytes(pem),
             "tsa_key": tsa_key.private_bytes(pem, serialization.PrivateFormat.PKCS8,
                                              serialization.NoEncryption())}
    paths = {}
    for kind, data in files.items():
        paths[kind] = os.path.join(folder, "signer." + kind)
        with open(paths[kind], "wb") as f:
            f.write(data)
    return {"pem": paths["ca"]}, {"cert": paths["pem"], "key": paths["key"], "p12": paths["p12"],
                                  "password": paths["password"], "tsa_cert": paths["tsa_cert"],
                                  "tsa_key": paths["tsa_key"]}


if __name__ == "__main__":
    unittest.main(verbosity=2)
