#!/usr/bin/env python3
"""Writes into a PEM certificate a name that no certificate tool will take on
its command line (one with a NUL inside, say), and signs it again.

  resign_certificate.py CERT.pem CA.key OLD NEW

OLD is replaced by NEW (the same length; Python escapes such as \\0 allowed)
once, inside the signed part; the new RSA SHA-256 signature has the old one's
length, so every DER length stays as it was.
"""
import base64
import subprocess
import sys
import tempfile


def header_length(der, at):
    """The bytes a DER tag and length take at `at`, and the content's length."""
    first = der[at + 1]
    if first < 0x80:
        return 2, first
    count = first & 0x7F
    return 2 + count, int.from_bytes(der[at + 2:at + 2 + count], "big")


def main(pem_path, key_path, old, new):
    new = new.encode().decode("unicode_escape").encode("latin-1")
    old = old.encode()
    if len(old) != len(new):
        sys.exit("resign_certificate: OLD and NEW must have the same length")
    text = open(pem_path).read()
    body = text.split("-----BEGIN CERTIFICATE-----")[1].split("-----END CERTIFICATE-----")[0]
    der = bytearray(base64.b64decode(body))
    outer, _ = header_length(der, 0)
    inner, tbs_length = header_length(der, outer)
    tbs_end = outer + inner + tbs_length
    at = der.find(old, outer, tbs_end)
    if at < 0:
        sys.exit("resign_certificate: OLD is not in the certificate")
    der[at:at + len(old)] = new
    with tempfile.NamedTemporaryFile() as tbs:
        tbs.write(der[outer:tbs_end])
        tbs.flush()
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_path, tbs.name],
                                   check=True, capture_output=True).stdout
    # The signature BIT STRING closes the certificate.
    der[len(der) - len(signature):] = signature
    encoded = base64.encodebytes(bytes(der)).decode().replace("\n", "")
    lines = [encoded[i:i + 64] for i in range(0, len(encoded), 64)]
    with open(pem_path, "w") as f:
        f.write("-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit("usage: resign_certificate.py CERT.pem CA.key OLD NEW")
    main(*sys.argv[1:])
