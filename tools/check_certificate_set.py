#!/usr/bin/python3
"""Checks the certificate set that certinstall carries as resources.

    check_certificate_set.py --set resources/certificate_set.txt --dir CERT_DIR

Prints nothing and exits 0 when the set is sound. Otherwise prints one line
per broken rule, "<file>: <rule>", to stderr and exits 1.

The program itself verifies nothing at run time: it files a certificate under
ROOT when its encoded issuer and subject names are the same bytes and under CA
otherwise. A set that breaks the rules below would be installed wrongly, or
would rest on that byte comparison where the set promises names of different
lengths, without any message, so the build refuses it.

Needs only /usr/bin/python3 and python3-cryptography (38 or later).
"""

import argparse
import os
import sys
from dataclasses import dataclass

from cryptography import x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.x509.oid import SignatureAlgorithmOID

ROLES = ("root", "intermediate")

RSA_PKCS1V15_SIGNATURES = {
    SignatureAlgorithmOID.RSA_WITH_SHA1,
    SignatureAlgorithmOID.RSA_WITH_SHA224,
    SignatureAlgorithmOID.RSA_WITH_SHA256,
    SignatureAlgorithmOID.RSA_WITH_SHA384,
    SignatureAlgorithmOID.RSA_WITH_SHA512,
}

SEQUENCE_TAG = 0x30
INTEGER_TAG = 0x02
EXPLICIT_VERSION_TAG = 0xA0


@dataclass
class Entry:
    type: str
    id: int
    role: str
    file: str
    line: int


@dataclass
class Certificate:
    path: str
    parsed: x509.Certificate
    issuer_der: bytes
    subject_der: bytes


class DerError(Exception):
    pass


class DerTruncated(DerError):
    pass


def read_header(data, offset):
    """Returns (tag, start of contents, end of element) of the DER element at offset."""
    if offset + 2 > len(data):
        raise DerTruncated("the data ends inside an element's header")
    tag = data[offset]
    if tag & 0x1F == 0x1F:
        raise DerError(f"multi-byte tag at byte {offset}")
    first = data[offset + 1]
    position = offset + 2
    if first < 0x80:
        length = first
    elif first == 0x80:
        raise DerError(f"indefinite length at byte {offset}, which DER forbids")
    else:
        count = first & 0x7F
        if count > 4:
            raise DerError(f"length of {count} bytes at byte {offset}")
        if position + count > len(data):
            raise DerTruncated("the data ends inside an element's header")
        length = int.from_bytes(data[position:position + count], "big")
        position += count
    return tag, position, position + length


def outer_encoding_problem(data):
    """Says why the file is not exactly one DER SEQUENCE, or returns None.

    Done on the raw bytes because a parser that stops at the end of the
    certificate would not notice bytes after it.
    """
    if not data:
        return "empty file"
    if data.lstrip().startswith(b"-----BEGIN"):
        return "PEM text, not DER"
    if data[0] != SEQUENCE_TAG:
        return f"does not start with a DER SEQUENCE (first byte 0x{data[0]:02x})"
    try:
        _, _, end = read_header(data, 0)
    except DerTruncated:
        return f"truncated: the file ends inside the certificate's header ({len(data)} bytes)"
    except DerError as error:
        return f"not DER: {error}"
    if end > len(data):
        return f"truncated: the certificate's encoding declares {end} bytes, the file holds {len(data)}"
    if end < len(data):
        return f"{len(data) - end} trailing bytes after the certificate's {end} bytes"
    return None


def encoded_names(data):
    """Returns the issuer and subject Names of a DER certificate as their raw encodings.

    Taken from the bytes rather than re-encoded by the library, since the
    program compares exactly these bytes' lengths.
    """
    tag, tbs_start, _ = read_header(data, 0)
    tag, position, tbs_end = read_header(data, tbs_start)
    if tag != SEQUENCE_TAG:
        raise DerError("the certificate does not start with a TBSCertificate SEQUENCE")

    def next_element(position, expected_tag, what):
        tag, _, end = read_header(data, position)
        if tag != expected_tag or end > tbs_end:
            raise DerError(f"no {what} where the TBSCertificate should have one")
        return end

    tag, _, end = read_header(data, position)
    if tag == EXPLICIT_VERSION_TAG:
        position = end
    position = next_element(position, INTEGER_TAG, "serial number")
    position = next_element(position, SEQUENCE_TAG, "signature algorithm")
    issuer_end = next_element(position, SEQUENCE_TAG, "issuer name")
    issuer = data[position:issuer_end]
    position = next_element(issuer_end, SEQUENCE_TAG, "validity")
    subject_end = next_element(position, SEQUENCE_TAG, "subject name")
    subject = data[position:subject_end]
    return issuer, subject


def load_certificate(path):
    """Returns (Certificate, None) or (None, the rule that the file breaks)."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except FileNotFoundError:
        return None, "file is missing"
    except OSError as error:
        return None, f"file cannot be read ({error.strerror})"

    not_one_certificate = "file is not exactly one DER certificate spanning the file"
    problem = outer_encoding_problem(data)
    if problem:
        return None, f"{not_one_certificate} ({problem})"
    try:
        parsed = x509.load_der_x509_certificate(data)
        issuer, subject = encoded_names(data)
    except (ValueError, DerError) as error:
        return None, f"{not_one_certificate} (not a parseable X.509 certificate: {error})"
    return Certificate(path, parsed, issuer, subject), None


def signature_problem(certificate, signer, signer_description):
    """Says why the certificate's signature does not verify with the public key
    of signer (a parsed certificate), or returns None."""
    def cannot_check(reason):
        return f"its signature cannot be checked with {signer_description}: {reason}"

    try:
        key = signer.public_key()
    except (UnsupportedAlgorithm, ValueError) as error:
        return cannot_check(f"the key cannot be read ({error})")
    if not isinstance(key, rsa.RSAPublicKey):
        return cannot_check(f"it is {type(key).__name__.lstrip('_')}, only RSA keys are supported")
    if certificate.signature_algorithm_oid not in RSA_PKCS1V15_SIGNATURES:
        return cannot_check(f"signature algorithm {certificate.signature_algorithm_oid.dotted_string}"
                            " is not RSA PKCS #1 v1.5")
    try:
        key.verify(certificate.signature, certificate.tbs_certificate_bytes,
                   padding.PKCS1v15(), certificate.signature_hash_algorithm)
    except InvalidSignature:
        return f"its signature does not verify with {signer_description}"
    except (UnsupportedAlgorithm, ValueError) as error:
        return cannot_check(str(error))
    return None


def read_declaration(path, problems):
    """Returns the declared entries; adds a problem for each line that cannot be used."""
    try:
        with open(path, encoding="utf-8") as file:
            lines = file.read().splitlines()
    except (OSError, UnicodeDecodeError) as error:
        problems.append(f"{path}: declaration cannot be read ({error})")
        return []

    entries = []
    first_line_of_id = {}
    for number, line in enumerate(lines, start=1):
        text = line.strip()
        if not text or text.startswith("#"):
            continue
        where = f"{path}:{number}"
        fields = text.split()
        if len(fields) != 4:
            problems.append(f"{where}: unreadable declaration line (expected four fields:"
                            f" type id role file): {text!r}")
            continue
        type_name, id_text, role, file_name = fields
        # Resource IDs are unsigned 16-bit and 0 is not a valid integer ID.
        if not id_text.isdigit() or not 1 <= int(id_text) <= 0xFFFF:
            problems.append(f"{where}: unreadable declaration line (id {id_text!r} is not"
                            f" a number from 1 to 65535): {text!r}")
            continue
        if role not in ROLES:
            problems.append(f"{where}: unreadable declaration line (role {role!r} is neither"
                            f" root nor intermediate): {text!r}")
            continue
        resource_id = int(id_text)
        if resource_id in first_line_of_id:
            # The loader finds a certificate by ID alone within a type and the
            # two sets must share none, so a repeated ID is always a mistake.
            problems.append(f"{where}: id {resource_id} is declared twice"
                            f" (first on line {first_line_of_id[resource_id]})")
            continue
        first_line_of_id[resource_id] = number
        entries.append(Entry(type_name, resource_id, role, file_name, number))

    if not entries and not problems:
        problems.append(f"{path}: declaration declares no certificates")
    return entries


def roots_by_type(entries, declaration_path, problems):
    """Returns {type: its single root entry}; types without exactly one root are left out."""
    roots = {}
    for type_name in dict.fromkeys(entry.type for entry in entries):
        type_roots = [e for e in entries if e.type == type_name and e.role == "root"]
        if len(type_roots) == 1:
            roots[type_name] = type_roots[0]
        else:
            found = ", ".join(str(e.id) for e in type_roots) or "none"
            problems.append(f"{declaration_path}: type {type_name} must have exactly one root"
                            f" (declared roots: {found})")
    return roots


def root_problems(root):
    problems = []
    if root.issuer_der != root.subject_der:
        problems.append("root certificate's issuer and subject names are not byte-identical"
                        f" (issuer {len(root.issuer_der)} bytes, subject {len(root.subject_der)} bytes)")
    problem = signature_problem(root.parsed, root.parsed, "its own key")
    if problem:
        problems.append(f"root certificate is not self-signed ({problem})")
    return problems


def intermediate_problems(intermediate, type_name, root):
    """root is None when the type's root is missing or unreadable; then only the
    intermediate's own names can be checked."""
    problems = []
    if len(intermediate.issuer_der) == len(intermediate.subject_der):
        problems.append("intermediate certificate's subject and issuer names have the same"
                        f" encoded length ({len(intermediate.subject_der)} bytes); an intermediate's"
                        " names must differ in length, so that comparing lengths alone tells it from a root")
    if root is None:
        return problems
    root_file = os.path.basename(root.path)
    if intermediate.issuer_der != root.subject_der:
        problems.append(f"intermediate certificate is not issued by the {type_name} root"
                        f" (its issuer name differs from the subject name of {root_file})")
    problem = signature_problem(intermediate.parsed, root.parsed, f"the key of {root_file}")
    if problem:
        problems.append(f"intermediate certificate is not signed by the {type_name} root's key"
                        f" ({problem})")
    return problems


def check_set(declaration_path, certificate_dir):
    """Returns the list of problem lines; empty when the set is sound."""
    problems = []
    entries = read_declaration(declaration_path, problems)
    roots = roots_by_type(entries, declaration_path, problems)

    certificates = {}
    load_problems = {}
    for entry in entries:
        path = os.path.join(certificate_dir, entry.file)
        certificates[entry.id], load_problems[entry.id] = load_certificate(path)

    for entry in entries:
        certificate = certificates[entry.id]
        if certificate is None:
            problems.append(f"{os.path.join(certificate_dir, entry.file)}: {load_problems[entry.id]}")
            continue
        if entry.role == "root":
            found = root_problems(certificate)
        else:
            root_entry = roots.get(entry.type)
            root = certificates[root_entry.id] if root_entry else None
            found = intermediate_problems(certificate, entry.type, root)
        problems.extend(f"{certificate.path}: {problem}" for problem in found)
    return problems


def main():
    parser = argparse.ArgumentParser(description="Checks certinstall's certificate set.")
    parser.add_argument("--set", required=True, help="the set's declaration file")
    parser.add_argument("--dir", required=True, help="directory of the certificate files")
    arguments = parser.parse_args()

    problems = check_set(arguments.set, arguments.dir)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
