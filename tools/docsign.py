"""The signed update document: its claims, its detached signature and who signed it.

update.xml carries on its root element the serial number (grows with every publication),
the product it is for, the time it expires and, optionally, the publisher that will sign
the next releases. "update.xml.p7s" beside it is a detached CMS signature over the
document's exact bytes, made with the publisher's code-signing key (PKCS#12).

A publisher is identified as the bootstrapper identifies it: the subject of the signing
certificate and the public key of the certificate that issued it (its own, when
self-signed). An announcement names the next publisher by its subject (hex of the DER
name) and the SHA-256 of its issuer's public key.
"""

import datetime
import hashlib
import os
import re
import subprocess
import tempfile
import urllib.request

try:
    from cryptography import x509
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
    from cryptography.hazmat.primitives.serialization import pkcs7, pkcs12
    MISSING = None
except ImportError as missing:  # only signing needs it; unsigned documents are written without
    MISSING = missing

DEFAULT_VALID_DAYS = 90
ROOT_PATTERN = re.compile(rb"<Installer(\s[^>]*)?>")
ATTRIBUTE_PATTERN = re.compile(rb'\s([A-Za-z]+)="([^"]*)"')
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
CLAIM_ORDER = ("serial", "product", "expires", "nextPublisherSubject", "nextPublisherIssuerKey")


class DocumentError(Exception):
    """A document, a signature or a key that cannot be used, reported to the engineer."""


class Publisher:
    """Subject (DER) and SHA-256 of the issuer's public key, with the subject as text."""

    def __init__(self, subject, issuer_key_sha256, text):
        self.subject = subject
        self.issuer_key_sha256 = issuer_key_sha256
        self.text = text

    def __eq__(self, other):
        return isinstance(other, Publisher) and (self.subject, self.issuer_key_sha256) == (
            other.subject, other.issuer_key_sha256)

    def __repr__(self):
        return "Publisher(%r)" % self.text


def subject_text(certificate):
    """The subject as the bootstrapper's log writes it ("CN=Norlo")."""
    return ", ".join(attribute.rfc4514_string() for attribute in reversed(list(certificate.subject)))


def public_key_bits(certificate):
    """The public key as the certificate carries it (the bit string of its key info)."""
    key = certificate.public_key()
    if isinstance(key, rsa.RSAPublicKey):
        return key.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)
    if isinstance(key, ec.EllipticCurvePublicKey):
        return key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    raise DocumentError("%s: only RSA and EC keys are supported" % subject_text(certificate))


def signed_by(certificate, issuer):
    key = issuer.public_key()
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(certificate.signature, certificate.tbs_certificate_bytes, padding.PKCS1v15(),
                       certificate.signature_hash_algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(certificate.signature, certificate.tbs_certificate_bytes,
                       ec.ECDSA(certificate.signature_hash_algorithm))
        else:
            return False
    except (InvalidSignature, ValueError, TypeError):
        return False
    return True


def issuer_of(certificate, carried):
    """The carried certificate (or the certificate itself) whose key signed it."""
    for candidate in [certificate] + list(carried):
        if candidate.subject == certificate.issuer and signed_by(certificate, candidate):
            return candidate
    raise DocumentError("the certificate of %s comes without the certificate of its issuer \"%s\""
                        % (subject_text(certificate), certificate.issuer.rfc4514_string()))


def publisher_of(certificate, carried):
    issuer = issuer_of(certificate, carried)
    return Publisher(certificate.subject.public_bytes(), hashlib.sha256(public_key_bits(issuer)).hexdigest(),
                     subject_text(certificate))


def load_certificates(path):
    """Every certificate of a PEM or DER file, in order."""
    with open(path, "rb") as stream:
        data = stream.read()
    if b"-----BEGIN" in data:
        return x509.load_pem_x509_certificates(data) if hasattr(x509, "load_pem_x509_certificates") else [
            x509.load_pem_x509_certificate(block) for block in
            re.findall(rb"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", data, re.S)]
    return [x509.load_der_x509_certificate(data)]


def announced_publisher(chain_path):
    """The publisher a chain file names: its first certificate, issued by a later one or itself."""
    certificates = load_certificates(chain_path)
    if not certificates:
        raise DocumentError("%s holds no certificate" % chain_path)
    return publisher_of(certificates[0], certificates[1:])


def require_cryptography():
    if MISSING is not None:
        raise DocumentError("signing needs the Python package cryptography (Debian: python3-cryptography): %s"
                            % MISSING)


class SigningKey:
    def __init__(self, pkcs12_path, password_file):
        require_cryptography()
        try:
            with open(password_file, "rb") as stream:
                password = stream.read().rstrip(b"\r\n")
            with open(pkcs12_path, "rb") as stream:
                key, certificate, extra = pkcs12.load_key_and_certificates(stream.read(), password or None)
        except OSError as error:
            raise DocumentError("cannot read %s: %s" % (error.filename, error.strerror)) from None
        except ValueError as error:
            raise DocumentError("cannot open the key %s: %s" % (pkcs12_path, error)) from None
        if key is None or certificate is None:
            raise DocumentError("%s holds no key with its certificate" % pkcs12_path)
        self.key = key
        self.certificate = certificate
        self.extra = list(extra or [])
        self.publisher = publisher_of(certificate, self.extra)

    def sign(self, document):
        builder = pkcs7.PKCS7SignatureBuilder().set_data(document).add_signer(
            self.certificate, self.key, hashes.SHA256())
        for certificate in self.extra:
            builder = builder.add_certificate(certificate)
        return builder.sign(serialization.Encoding.DER, [pkcs7.PKCS7Options.DetachedSignature,
                                                         pkcs7.PKCS7Options.Binary,
                                                         pkcs7.PKCS7Options.NoCapabilities])


def verified_publisher(document, signature):
    """Who signed document: openssl verifies the signature over the exact bytes (no chain,
    as the bootstrapper pins the publisher instead) and names the signing certificate."""
    with tempfile.TemporaryDirectory() as folder:
        paths = {name: os.path.join(folder, name) for name in ("document", "signature", "signer")}
        with open(paths["document"], "wb") as stream:
            stream.write(document)
        with open(paths["signature"], "wb") as stream:
            stream.write(signature)
        run = subprocess.run(["openssl", "cms", "-verify", "-binary", "-noverify", "-inform", "DER",
                              "-in", paths["signature"], "-content", paths["document"],
                              "-signer", paths["signer"], "-out", os.devnull],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if run.returncode != 0:
            raise DocumentError("the signature does not match the document")
        signer = load_certificates(paths["signer"])[0]
    carried = pkcs7.load_der_pkcs7_certificates(signature)
    return publisher_of(signer, carried)


def utc_text(moment):
    return moment.astimezone(datetime.timezone.utc).strftime(TIME_FORMAT)


def read_claims(document):
    """The root element's attributes, as text."""
    match = ROOT_PATTERN.search(document)
    if match is None:
        raise DocumentError("the document has no <Installer> root element")
    return {name.decode("ascii"): value.decode("ascii")
            for name, value in ATTRIBUTE_PATTERN.findall(match.group(1) or b"")}


def with_claims(document, claims):
    """document with its root element's attributes replaced by claims; nothing else changes."""
    match = ROOT_PATTERN.search(document)
    if match is None:
        raise DocumentError("the document has no <Installer> root element")
    attributes = "".join(' %s="%s"' % (name, claims[name]) for name in CLAIM_ORDER if claims.get(name))
    for value in claims.values():
        if not re.fullmatch(r"[ -!#-;=?-~]*", str(value)):
            raise DocumentError("a claim holds a character that cannot stand in an attribute: %r" % value)
    return document[:match.start()] + ("<Installer%s>" % attributes).encode("ascii") + document[match.end():]


def announcement_claims(publisher):
    return {"nextPublisherSubject": publisher.subject.hex(), "nextPublisherIssuerKey": publisher.issuer_key_sha256}


def announced_in(claims):
    """The publisher a document's claims announce, or None."""
    subject, key = claims.get("nextPublisherSubject"), claims.get("nextPublisherIssuerKey")
    if not subject or not key:
        return None
    return Publisher(bytes.fromhex(subject), key, "(announced)")


def fetch(location):
    """The bytes of a file or an http(s) address."""
    try:
        if re.match(r"https?://", location):
            with urllib.request.urlopen(location, timeout=60) as answer:
                return answer.read()
        with open(location, "rb") as stream:
            return stream.read()
    except OSError as error:
        raise DocumentError("cannot read the previous document %s: %s" % (location, error)) from None


class Previous:
    """The document published before, with its signature and who signed it."""

    def __init__(self, location):
        require_cryptography()
        self.location = location
        self.document = fetch(location)
        self.signature = fetch(location + ".p7s")
        self.claims = read_claims(self.document)
        self.publisher = verified_publisher(self.document, self.signature)
        serial = self.claims.get("serial", "")
        if not re.fullmatch(r"[1-9][0-9]{0,17}", serial):
            raise DocumentError("the previous document %s carries no readable serial" % location)
        self.serial = int(serial)
        self.announced = announced_in(self.claims)


def next_serial(previous, requested):
    """The serial of the next document: one above the previous one unless given; never back."""
    if requested is not None and requested < 1:
        raise DocumentError("serial %d: a serial is a number from 1" % requested)
    if previous is None:
        return requested or 1
    if requested is None:
        return previous.serial + 1
    if requested <= previous.serial:
        raise DocumentError("serial %d is not above %d of the previous document %s: serials never go back "
                            "(installed copies refuse a document older than one they saw)"
                            % (requested, previous.serial, previous.location))
    return requested


def check_rotation(previous, signer):
    """The signer must be the previous document's publisher or the one it announced."""
    if previous is None or signer == previous.publisher or signer == previous.announced:
        return
    raise DocumentError(
        "the signing key's publisher \"%s\" is neither the previous release's publisher \"%s\" nor announced "
        "by it; installed copies would refuse this document. Change publishers in two steps: 1. publish (or "
        "re-sign) with the current key and --announce-next <the new certificate and its issuer>, and let "
        "installed copies fetch it; 2. then publish with the new key" % (signer.text, previous.publisher.text))


def expiry(now, valid_days):
    if valid_days < 1:
        raise DocumentError("--valid-days %d: a document must stay valid for a day at least" % valid_days)
    return utc_text(now + datetime.timedelta(days=valid_days))
