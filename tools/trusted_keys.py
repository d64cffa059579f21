#!/usr/bin/python3
"""The keys an installer trusts, as the publishing tools are told them:
--keys "<key1>;<key2>", --build DIR (that build's toolchain.txt),
--installer EXE (read from the program's bytes) or, explicitly, --dev-keys.
Each key is 128 lower-case hex characters, X then Y of a P-256 point; an
all-zero key is an empty slot.

Run as a program it prints the keys an installer program trusts, or checks
the keys a release build is configured with:
  trusted_keys.py --installer KestrelumeInstaller.exe
  trusted_keys.py --check-release "<key1>;<key2>"
"""
import os
import re
import sys

# The curve the installer verifies with (P-256, FIPS 186-4 D.1.2.3).
_P = 0xffffffff00000001000000000000000000000000ffffffffffffffffffffffff
_B = 0x5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b

# In the installer's bytes the two keys follow this marker as "<key1>;<key2>".
MARKER = b"KestrelumeTrustedKeys:"
ZERO = "0" * 128


class KeysError(Exception):
    """The keys cannot be known, or are not usable; the text says why."""


def on_p256(key):
    """True when the 128-hex key is a point of P-256 (other than nothing)."""
    if not re.fullmatch(r"[0-9a-f]{128}", key):
        return False
    x, y = int(key[:64], 16), int(key[64:], 16)
    if x >= _P or y >= _P:
        return False
    return (y * y - (x * x * x - 3 * x + _B)) % _P == 0


def split(text):
    keys = text.strip().split(";")
    if not 1 <= len(keys) <= 2 or any(not re.fullmatch(r"[0-9a-f]{128}", k) for k in keys):
        raise KeysError("%r is not one or two keys of 128 lower-case hex characters separated by ;" % text)
    return keys


def from_build(folder):
    record = os.path.join(folder, "toolchain.txt")
    try:
        with open(record, encoding="utf-8") as f:
            for line in f:
                if line.startswith("trusted keys: "):
                    return split(line[len("trusted keys: "):])
    except OSError as error:
        raise KeysError("%s: cannot read the build's record (%s)" % (record, error.strerror)) from None
    raise KeysError("%s names no trusted keys" % record)


def from_installer(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        raise KeysError("%s: %s" % (path, error.strerror)) from None
    # A build with debugging information holds the record twice.
    found = set(re.findall(re.escape(MARKER) + rb"([0-9a-f]{128});([0-9a-f]{128})", data))
    if not found:
        raise KeysError("%s carries no record of trusted keys: not a Kestrelume installer" % path)
    if len(found) > 1:
        raise KeysError("%s carries more than one record of trusted keys" % path)
    return [key.decode("ascii") for key in found.pop()]


def development(root):
    """The development keys, from the public halves in tests/keys."""
    sys.path.insert(0, os.path.join(root, "tools"))
    import manifest_signing
    return [manifest_signing.public_hex(manifest_signing.load_key(os.path.join(root, "tests", "keys", name)))
            for name in ("dev-signing-key-1.pem", "dev-signing-key-2.pem")]


def add_arguments(parser):
    group = parser.add_argument_group("the keys the installer trusts (one of these is needed)")
    group.add_argument("--keys", help='"<key1>;<key2>", as the release build was configured')
    group.add_argument("--build", metavar="DIR", help="a release build folder: the keys its toolchain.txt records")
    group.add_argument("--installer", metavar="EXE", help="an installer program: the keys it carries")
    group.add_argument("--dev-keys", action="store_true", help="the development keys (development builds only)")


def resolve(args, root):
    """(keys, where they came from) from the parsed arguments."""
    given = [name for name in ("keys", "build", "installer", "dev_keys") if getattr(args, name)]
    if not given:
        raise KeysError("the keys the installer trusts are needed to judge a release: give --keys "
                        "\"<key1>;<key2>\", --build DIR (a release build) or --installer EXE, or --dev-keys "
                        "for a development build")
    if len(given) > 1:
        raise KeysError("give one of --keys, --build, --installer, --dev-keys (got %s)"
                        % ", ".join("--" + g.replace("_", "-") for g in given))
    if args.keys:
        return split(args.keys), "--keys"
    if args.build:
        return from_build(args.build), os.path.join(args.build, "toolchain.txt")
    if args.installer:
        return from_installer(args.installer), args.installer
    return development(root), "the development keys"


def release_problems(keys):
    """Why a release build may not be configured with these keys (empty: it may)."""
    problems = []
    for index, key in enumerate(keys, 1):
        if key == ZERO:
            problems.append("entry %d is an all-zero (empty) slot: the standby key must be a real key, or a "
                            "key rotation finds an installer that can verify nothing else" % index)
        elif not on_p256(key):
            problems.append("entry %d is not a point on P-256: no signature could ever verify with it "
                            "(tools/sign-manifest --public-key KEY.pem prints a real one)" % index)
    if len(keys) == 2 and keys[0] == keys[1]:
        problems.append("both entries are the same key: the second slot is for a standby key")
    return problems


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("--check-release", "--installer"):
        sys.exit("usage: trusted_keys.py --installer EXE | --check-release \"<key1>;<key2>\"")
    if sys.argv[1] == "--installer":
        try:
            print(";".join(from_installer(sys.argv[2])))
        except KeysError as error:
            sys.exit("trusted_keys.py: %s" % error)
        sys.exit(0)
    found = release_problems(sys.argv[2].split(";"))
    for problem in found:
        print("KESTRELUME_TRUSTED_KEYS " + problem)
    sys.exit(1 if found else 0)
