"""A private certificate authority for TLS tests (Debian's python3-cryptography).

    ca = TestCA(folder)                      # made once, then loaded from folder
    cert, key = ca.issue("localhost")        # PEM files for a server
    cert, key = ca.issue("expired", expired=True)
    cert, key = ca.issue("other-host", hosts=["other.invalid"])
    ca.der_path                              # the CA certificate, DER, for a root store
    ca.trust_in_prefix(prefix, helper)       # Wine's WinHTTP in that prefix trusts it

    certs = TestCertificates(folder)         # the usual set, see below

The CA's key and certificate stay in the folder, so that a Wine prefix that
trusts it once keeps trusting the same CA on later runs. Server certificates
name DNS hosts only: Wine matches the server name against DNS names, never
against an IP address.
"""

import contextlib
import datetime
import fcntl
import os
import subprocess

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

DAY = datetime.timedelta(days=1)


def _write(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


@contextlib.contextmanager
def _locked(folder):
    # Test processes that run side by side share the folder.
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def _key_pem(key):
    return key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption())


class TestCA:
    """A root CA kept in `folder` (ca.pem, ca.der, ca-key.pem)."""

    def __init__(self, folder, name="Kestrelume Test CA"):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.pem_path = os.path.join(folder, "ca.pem")
        self.der_path = os.path.join(folder, "ca.der")
        key_path = os.path.join(folder, "ca-key.pem")
        with _locked(folder):
            self._load_or_make(key_path, name)

    def _load_or_make(self, key_path, name):
        if os.path.exists(self.pem_path) and os.path.exists(key_path) and os.path.exists(self.der_path):
            with open(key_path, "rb") as f:
                self.key = serialization.load_pem_private_key(f.read(), None)
            with open(self.pem_path, "rb") as f:
                self.cert = x509.load_pem_x509_certificate(f.read())
            return
        now = datetime.datetime.now(datetime.timezone.utc)
        self.key = ec.generate_private_key(ec.SECP256R1())
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
        self.cert = (
            x509.CertificateBuilder()
            .subject_name(subject).issuer_name(subject)
            .public_key(self.key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now - DAY).not_valid_after(now + 3650 * DAY)
            .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
            .add_extension(x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                                         content_commitment=False, key_encipherment=False,
                                         data_encipherment=False, key_agreement=False,
                                         encipher_only=False, decipher_only=False), critical=True)
            .add_extension(x509.SubjectKeyIdentifier.from_public_key(self.key.public_key()),
                           critical=False)
            .sign(self.key, hashes.SHA256()))
        _write(key_path, _key_pem(self.key))
        _write(self.der_path, self.cert.public_bytes(serialization.Encoding.DER))
        _write(self.pem_path, self.cert.public_bytes(serialization.Encoding.PEM))

    @property
    def fingerprint(self):
        """SHA-1 of the CA certificate, upper-case hex (how Windows stores name it)."""
        return self.cert.fingerprint(hashes.SHA1()).hex().upper()

    def trust_in_prefix(self, prefix, helper, env=None):
        """Adds the CA to the ROOT stores of the Wine prefix (root_store.h) with
        add_root_cert.exe (helper, built beside the installer), once per
        prefix: a marker file in the prefix names the CA. env: the environment
        for Wine (DISPLAY and so on); WINEPREFIX is set here. Returns whether
        Wine ran (false: the prefix already trusted the CA)."""
        # "-2": since the CA goes into the CurrentUser store too.
        marker = os.path.join(prefix, ".kestrelume-trusted-ca-2-" + self.fingerprint)
        if os.path.exists(marker):
            return False
        env = dict(env or os.environ, WINEPREFIX=os.path.abspath(prefix))
        env.setdefault("WINEDEBUG", "-all")
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        windows = "Z:" + os.path.abspath(self.der_path).replace("/", "\\")
        subprocess.run(["wine", os.path.abspath(helper), windows], env=env, check=True, timeout=120,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        open(marker, "w").close()
        return True

    def issue(self, name, hosts=("localhost",), expired=False, folder=None):
        """Writes NAME.pem (certificate, then this CA) and NAME-key.pem into
        folder (default: the CA's) for a server certificate valid for the DNS
        names in hosts; expired=True makes one that ended in the past.
        A pair already there from this CA for the same hosts, and still
        valid for 30 days (or expired, as asked), is kept, so that a server
        that reads it meanwhile never sees a certificate without its key.
        Returns (certificate path, key path)."""
        folder = folder or self.folder
        os.makedirs(folder, exist_ok=True)
        cert_path = os.path.join(folder, name + ".pem")
        key_path = os.path.join(folder, name + "-key.pem")
        with _locked(folder):
            if not self._still_good(cert_path, key_path, hosts, expired):
                self._issue(cert_path, key_path, hosts, expired)
        return cert_path, key_path

    def _still_good(self, cert_path, key_path, hosts, expired):
        if not (os.path.exists(cert_path) and os.path.exists(key_path)):
            return False
        with open(cert_path, "rb") as f:
            cert = x509.load_pem_x509_certificate(f.read())
        names = cert.extensions.get_extension_for_class(x509.SubjectAlternativeName).value
        now = datetime.datetime.now(datetime.timezone.utc)
        end = cert.not_valid_after.replace(tzinfo=datetime.timezone.utc)
        return (cert.issuer == self.cert.subject and
                cert.extensions.get_extension_for_class(x509.AuthorityKeyIdentifier).value.key_identifier ==
                x509.SubjectKeyIdentifier.from_public_key(self.key.public_key()).digest and
                names.get_values_for_type(x509.DNSName) == list(hosts) and
                (end < now if expired else end > now + 30 * DAY))

    def _issue(self, cert_path, key_path, hosts, expired):
        now = datetime.datetime.now(datetime.timezone.utc)
        start, end = (now - 30 * DAY, now - DAY) if expired else (now - DAY, now + 365 * DAY)
        key = ec.generate_private_key(ec.SECP256R1())
        cert = (
            x509.CertificateBuilder()
            .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, hosts[0])]))
            .issuer_name(self.cert.subject)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(start).not_valid_after(end)
            .add_extension(x509.SubjectAlternativeName([x509.DNSName(h) for h in hosts]),
                           critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
            .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(self.key.public_key()),
                           critical=False)
            .sign(self.key, hashes.SHA256()))
        _write(key_path, _key_pem(key))
        _write(cert_path, cert.public_bytes(serialization.Encoding.PEM) +
               self.cert.public_bytes(serialization.Encoding.PEM))


class TestCertificates:
    """The server certificates TLS tests need, made in `folder`:

    trusted    (trusted CA, "localhost")
    expired    (trusted CA, "localhost", ended yesterday)
    wrong_host (trusted CA, "not-localhost.invalid")
    untrusted  (a second CA that no root store holds, "localhost")

    Each is a (certificate path, key path) pair; `ca` is the trusted TestCA,
    kept in folder/ca so that it survives between runs.
    """

    def __init__(self, folder):
        self.ca = TestCA(os.path.join(folder, "ca"))
        leaves = os.path.join(folder, "servers")
        self.trusted = self.ca.issue("localhost", folder=leaves)
        self.expired = self.ca.issue("expired", expired=True, folder=leaves)
        self.wrong_host = self.ca.issue("wrong-host", hosts=["not-localhost.invalid"], folder=leaves)
        stranger = TestCA(os.path.join(folder, "untrusted-ca"), name="Kestrelume Untrusted CA")
        self.untrusted = stranger.issue("untrusted", folder=leaves)
