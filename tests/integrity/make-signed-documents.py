#!/usr/bin/env python3
"""Signs the update documents the signed-run tests serve, with the throw-away publishers of
make-publisher-copies.sh, the way tools/release.py signs a release's (tools/docsign.py):

  make-signed-documents.py TOOLS_DIR PUBLISHERS_DIR UPDATE_XML SETUP_VERSION OUT_DIR

From the sample release's update.xml it writes <name>.<signer>.xml and its .p7s:
  newer      the newer bootstrapper without its digests (the tests swap its file), serial 42
  fails      a bootstrapper 5.0.9999.1 that never arrives, serial 42
  local      the bootstrapper at SETUP_VERSION (not newer: the run goes on), serial 42
  older      as local, serial 41
  expired    as local, serial 43, expired on 2020-03-01
  product    as local, serial 43, for "Other product"
  announce   as local, serial 43, announcing "Other test publisher" as the next publisher
  handover   as newer, serial 44
"""

import datetime
import os
import re
import sys

sys.path.insert(0, sys.argv[1])
import docsign  # noqa: E402
from cryptography.hazmat.primitives import serialization  # noqa: E402


class PemKey(docsign.SigningKey):
    def __init__(self, certs, name):  # pylint: disable=super-init-not-called
        with open(os.path.join(certs, name + ".key"), "rb") as stream:
            self.key = serialization.load_pem_private_key(stream.read(), None)
        chain = docsign.load_certificates(os.path.join(certs, name + ".chain"))
        self.certificate, self.extra = chain[0], chain[1:]
        self.publisher = docsign.publisher_of(self.certificate, self.extra)


def main():
    _, _, publishers, update_xml, setup_version, out = sys.argv
    certs = os.path.join(publishers, "certs")
    os.makedirs(out, exist_ok=True)
    with open(update_xml, "rb") as stream:
        base = stream.read()
    boot = base.index(b"<bootstrapper>")
    version = re.search(rb"<version>([^<]*)</version>", base[boot:]).group(1)
    newer = base[:boot] + re.sub(rb"<Hash>.*?</Size>", b"", base[boot:], count=1)
    fails = base[:boot] + base[boot:].replace(b"<version>" + version + b"</version>", b"<version>5.0.9999.1</version>", 1)
    local = base[:boot] + base[boot:].replace(b"<version>" + version + b"</version>",
                                               b"<version>" + setup_version.encode() + b"</version>", 1)
    in_30_days = docsign.utc_text(datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=30))
    claims = {"serial": "42", "product": "Norlo 5", "expires": in_30_days}
    other = PemKey(certs, "other")
    variants = [
        ("newer", newer, claims, ("publisher", "issued2", "expired", "other")),
        ("fails", fails, claims, ("publisher",)),
        ("local", local, claims, ("publisher", "other")),
        ("older", local, dict(claims, serial="41"), ("publisher",)),
        ("expired", local, dict(claims, serial="43", expires="2020-03-01T00:00:00Z"), ("publisher",)),
        ("product", local, dict(claims, serial="43", product="Other product"), ("publisher",)),
        ("announce", local, dict(claims, serial="43", **docsign.announcement_claims(other.publisher)), ("publisher",)),
        ("handover", newer, dict(claims, serial="44"), ("other",)),
    ]
    for name, document, root, signers in variants:
        signed = docsign.with_claims(document, root)
        for signer in signers:
            target = os.path.join(out, "%s.%s.xml" % (name, signer))
            with open(target, "wb") as stream:
                stream.write(signed)
            with open(target + ".p7s", "wb") as stream:
                stream.write(PemKey(certs, signer).sign(signed))
    print("signed documents ready in %s" % out)


if __name__ == "__main__":
    main()
