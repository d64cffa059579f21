"""Manifest signatures for the Kestrelume installer, shared by tools/sign-manifest
and tools/publish-release.

The signature document is the Base64 text of the raw 64-byte ECDSA P-256
signature (r then s, 32 bytes each, big-endian) over the SHA-256 of the
manifest bytes exactly as they are served, followed by one line break.
"""
import base64

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature


class KeyError_(Exception):
    """A key file that cannot be used; the text says why."""


def load_key(path):
    try:
        with open(path, "rb") as f:
            key = serialization.load_pem_private_key(f.read(), password=None)
    except (OSError, ValueError, TypeError) as error:
        raise KeyError_(f"{path}: cannot read a PEM private key ({error})") from None
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise KeyError_(f"{path}: not a P-256 private key")
    return key


def generate_key_pem():
    key = ec.generate_private_key(ec.SECP256R1())
    return key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption())


def public_hex(key):
    """The 128 lower-case hex characters the installer is built with."""
    numbers = key.public_key().public_numbers()
    return (numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")).hex()


def raw_signature(key, data):
    r, s = decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def signature_document(key, data):
    """The bytes of the .sig document for the manifest bytes `data`."""
    return (base64.b64encode(raw_signature(key, data)).decode("ascii") + "\n").encode("ascii")
