#!/usr/bin/python3
"""Builds certinstall.exe over certificate sets that break the program's
rules, for the tests that run it under Wine.

Each set is the development set with a few files changed; it is embedded as
it is (CERTIFICATE_CHECK=OFF) by a build of just the certinstall target:

  OUT/<set>/certificates/101.der ... 108.der
  OUT/<set>/build/certinstall.exe

Usage: make_broken_sets.py CMAKE SOURCE_DIR TOOLCHAIN_FILE CERTIFICATE_DIR OUT SET...
"""
import base64
import datetime
import os
import subprocess
import sys

from cryptography import x509
from cryptography.hazmat.primitives.asymmetric import ed25519
from cryptography.hazmat.primitives.serialization import Encoding
from cryptography.x509.oid import NameOID


def pem(der):
    lines = [base64.b64encode(der[i:i + 48]).decode() for i in range(0, len(der), 48)]
    return ("-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n").encode()


def der_elements(data):
    """The (tag, whole element) pairs of a run of DER elements."""
    elements = []
    offset = 0
    while offset < len(data):
        tag, length = data[offset], data[offset + 1]
        header = 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[offset + 2:offset + 2 + count], "big")
            header += count
        elements.append((tag, data[offset:offset + header + length]))
        offset += header + length
    return elements


def content(element):
    length = element[1]
    return element[2 + (length & 0x7F if length & 0x80 else 0):]


def encoded_names(der):
    """The issuer and subject Name exactly as they are encoded in `der`."""
    tbs = content(der_elements(content(der_elements(der)[0][1]))[0][1])
    fields = [element for tag, element in der_elements(tbs) if tag != 0xA0]  # no version
    return fields[2], fields[4]  # serial, signature, issuer, validity, subject


def intermediate_with_equal_name_lengths(root_der):
    """An intermediate issued under the root's name whose own name differs
    from it in one character only: equal lengths, different bytes. Signed by
    a fixed throwaway key, so the file is the same on every run."""
    root = x509.load_der_x509_certificate(root_der)
    attributes = []
    for attribute in root.subject:
        value = attribute.value
        if attribute.oid == NameOID.COMMON_NAME:
            value = value[:-1] + ("2" if value[-1] != "2" else "3")
        attributes.append(x509.NameAttribute(attribute.oid, value, _type=attribute._type))
    key = ed25519.Ed25519PrivateKey.from_private_bytes(bytes(range(32)))
    certificate = (
        x509.CertificateBuilder()
        .issuer_name(root.subject)
        .subject_name(x509.Name(attributes))
        .public_key(key.public_key())
        .serial_number(0x103103)
        .not_valid_before(datetime.datetime(2024, 2, 1))
        .not_valid_after(datetime.datetime(2035, 2, 1))
        .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
        .sign(key, None))
    der = certificate.public_bytes(Encoding.DER)
    issuer, subject = encoded_names(der)
    if len(issuer) != len(subject) or issuer == subject:
        raise SystemExit("the crafted intermediate does not have different names of equal length")
    if issuer != encoded_names(root_der)[1]:
        raise SystemExit("the crafted intermediate does not carry the root's name as its issuer")
    return der


def development(certificate_dir, certificate_id):
    with open(os.path.join(certificate_dir, f"{certificate_id}.der"), "rb") as f:
        return f.read()


# What each set changes in the development set: new bytes, or None to leave
# the certificate out of the executable.
SETS = {
    "unparsable": lambda d: {101: b"", 102: pem(development(d, 102))},
    "equal-name-lengths": lambda d: {103: intermediate_with_equal_name_lengths(development(d, 104))},
    "missing-id": lambda d: {102: None},
}


def write_if_changed(path, data):
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def make_set(name, cmake, source_dir, toolchain, certificate_dir, out):
    certificates = os.path.join(out, name, "certificates")
    os.makedirs(certificates, exist_ok=True)
    changes = SETS[name](certificate_dir)
    for certificate_id in range(101, 109):
        path = os.path.join(certificates, f"{certificate_id}.der")
        data = changes.get(certificate_id, development(certificate_dir, certificate_id))
        if data is None:
            if os.path.exists(path):
                os.remove(path)
        else:
            write_if_changed(path, data)

    build = os.path.join(out, name, "build")
    steps = [
        [cmake, "-S", source_dir, "-B", build, f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
         "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
         "-DCERTIFICATE_CHECK=OFF", f"-DCERTIFICATE_DIR={certificates}"],
        [cmake, "--build", build, "--target", "certinstall"],
    ]
    for step in steps:
        result = subprocess.run(step, capture_output=True, text=True)
        if result.returncode != 0:
            sys.stderr.write(result.stdout + result.stderr)
            raise SystemExit(f"{name}: {' '.join(step)} failed")
    print(f"{name}: {os.path.join(build, 'certinstall.exe')}")


def main():
    if len(sys.argv) < 7:
        raise SystemExit(__doc__)
    cmake, source_dir, toolchain, certificate_dir, out = sys.argv[1:6]
    for name in sys.argv[6:]:
        if name not in SETS:
            raise SystemExit(f"unknown set {name}; known: {', '.join(SETS)}")
        make_set(name, cmake, source_dir, toolchain, certificate_dir, out)


if __name__ == "__main__":
    main()
