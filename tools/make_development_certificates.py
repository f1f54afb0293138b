#!/usr/bin/python3
"""Makes the development certificate set: OUTDIR/101.der ... OUTDIR/108.der.

Two hierarchies of the invented "Kruczy Gaj" authority, one root and three
intermediates each: production (101-104, root 104) and test (105-108, root
107).  The released set has fixed file sizes and encoded name lengths, and the
installer files a certificate by comparing its name lengths, so the
development set reproduces those sizes exactly.  The common names are chosen
to give the name lengths; the serial number's length is then solved so that
each file reaches its size.  Keys are new on every run, but their encodings
are of fixed length, so every size is the same on every run.  Each size is
checked before anything is written.  Private keys stay in memory only.

Usage: /usr/bin/python3 tools/make_development_certificates.py OUTDIR
"""

import datetime
import hashlib
import os
import sys
from typing import NamedTuple, Optional

from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import Encoding
from cryptography.x509.name import _ASN1Type
from cryptography.x509.oid import NameOID, ObjectIdentifier

COUNTRY = "PL"
ORGANISATION = "Kruczy Gaj Sp. z o.o."
UNIT = "Centrum Certyfikacji"

# The production certificates carry the address of the certification policy
# as bare text under the any-policy identifier, not as a policies structure.
ANY_POLICY = ObjectIdentifier("2.5.29.32.0")
POLICY_ADDRESS = b"https://www.kruczygaj.example/repozytorium/dokumenty/polityka.html"
POLICY_ADDRESS_LENGTH = 66

ROOT_KEY_BITS = 4096
INTERMEDIATE_KEY_BITS = 2048
SIGNATURE_LENGTH = ROOT_KEY_BITS // 8
MAX_SERIAL_LENGTH = 20

# All dates before 2050, so that both bounds are encoded as UTCTime.
ROOT_VALIDITY = (datetime.datetime(2024, 1, 15), datetime.datetime(2047, 1, 15))
INTERMEDIATE_VALIDITY = (datetime.datetime(2024, 2, 1), datetime.datetime(2035, 2, 1))


class Certificate(NamedTuple):
    resource_id: int
    common_name: str
    crl_url: Optional[str]  # None for a root
    file_size: int
    issuer_name_length: int
    subject_name_length: int


class CertificateSet(NamedTuple):
    root: Certificate
    intermediates: tuple
    has_policy_address: bool
    root_has_authority_key_id: bool


PRODUCTION = CertificateSet(
    root=Certificate(104, "Kruczy Gaj Glowny Urzad Certyfikacji Produkcyjnej R1", None, 1611, 142, 142),
    intermediates=(
        Certificate(101, "Kruczy Gaj Operacyjne CA P1", "http://crl.kruczygaj.example/p1.crl", 1387, 142, 116),
        Certificate(102, "Kruczy Gaj Operacyjne CA P2", "http://crl.kruczygaj.example/p2.crl", 1387, 142, 116),
        Certificate(103, "Kruczy Gaj Urzad Znacznikow Czasu Produkcja", "http://crl.kruczygaj.example/p3.crl",
                    1404, 142, 133),
    ),
    has_policy_address=True,
    root_has_authority_key_id=True,
)

TEST = CertificateSet(
    root=Certificate(107, "Kruczy Gaj Testowy R1", None, 1436, 110, 110),
    intermediates=(
        Certificate(105, "Kruczy Gaj Testowe Operacyjne T1", "http://crl-test.kruczygaj.example/t1.crl",
                    1289, 110, 121),
        Certificate(106, "Kruczy Gaj Testowe Operacyjne T2", "http://crl-test.kruczygaj.example/t2.crl",
                    1289, 110, 121),
        Certificate(108, "Kruczy Gaj Testowy Urzad Znacznikow Czasu TSA-T3", "http://crl-test.kruczygaj.example/t3.crl",
                    1306, 110, 138),
    ),
    has_policy_address=False,
    root_has_authority_key_id=False,
)


def make_name(common_name):
    return x509.Name([
        x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.COUNTRY_NAME, COUNTRY,
                                                           _type=_ASN1Type.PrintableString)]),
        x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.ORGANIZATION_NAME, ORGANISATION,
                                                           _type=_ASN1Type.UTF8String)]),
        x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, UNIT,
                                                           _type=_ASN1Type.UTF8String)]),
        x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.COMMON_NAME, common_name,
                                                           _type=_ASN1Type.UTF8String)]),
    ])


def make_key(bits):
    key = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    # A modulus of exactly this many bits has an encoding of fixed length.
    if key.public_key().public_numbers().n.bit_length() != bits:
        sys.exit("RSA modulus is not %d bits long" % bits)
    return key


def fixed_serial(resource_id, length):
    """A serial number that is the same on every run and encodes to exactly `length` bytes."""
    digest = bytearray(hashlib.sha256(b"certinstall development %d" % resource_id).digest()[:length])
    digest[0] = (digest[0] & 0x3F) | 0x40  # non-zero, top bit clear: no sign byte, no trimming
    return int.from_bytes(digest, "big")


def build(plan, serial_length, subject_name, issuer_name, public_key, signing_key, hash_algorithm,
          path_length, validity, authority_key_id, policy_address):
    subject_key_id = x509.SubjectKeyIdentifier.from_public_key(public_key)
    builder = (
        x509.CertificateBuilder()
        .serial_number(fixed_serial(plan.resource_id, serial_length))
        .issuer_name(issuer_name)
        .subject_name(subject_name)
        .public_key(public_key)
        .not_valid_before(validity[0])
        .not_valid_after(validity[1])
        .add_extension(x509.BasicConstraints(ca=True, path_length=path_length), critical=True)
        .add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                                     data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                     crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
        .add_extension(subject_key_id, critical=False)
    )
    if authority_key_id is not None:
        builder = builder.add_extension(
            x509.AuthorityKeyIdentifier.from_issuer_subject_key_identifier(authority_key_id), critical=False)
    if plan.crl_url is not None:
        point = x509.DistributionPoint(full_name=[x509.UniformResourceIdentifier(plan.crl_url)],
                                       relative_name=None, reasons=None, crl_issuer=None)
        builder = builder.add_extension(x509.CRLDistributionPoints([point]), critical=False)
    if policy_address:
        builder = builder.add_extension(x509.UnrecognizedExtension(ANY_POLICY, POLICY_ADDRESS), critical=False)
    return builder.sign(signing_key, hash_algorithm)


def build_to_size(plan, **fields):
    """Builds the certificate with the serial length that gives the file its required size.

    Everything but the serial number has a fixed length, and no length field
    changes form in the range involved, so the size grows byte for byte with
    the serial number's length.
    """
    check_names(plan, fields["issuer_name"], fields["subject_name"])
    trial = build(plan, 1, **fields)
    serial_length = 1 + plan.file_size - len(trial.public_bytes(Encoding.DER))
    if not 1 <= serial_length <= MAX_SERIAL_LENGTH:
        sys.exit("certificate %d: would need a serial number of %d bytes" % (plan.resource_id, serial_length))
    certificate = build(plan, serial_length, **fields)
    check(plan, certificate)
    return certificate, serial_length


def check_names(plan, issuer_name, subject_name):
    for role, name, wanted in (("issuer", issuer_name, plan.issuer_name_length),
                               ("subject", subject_name, plan.subject_name_length)):
        if len(name.public_bytes()) != wanted:
            sys.exit("certificate %d: %s name is %d bytes, wanted %d"
                     % (plan.resource_id, role, len(name.public_bytes()), wanted))


def check(plan, certificate):
    der = certificate.public_bytes(Encoding.DER)
    problems = []
    if len(der) != plan.file_size:
        problems.append("file size %d, wanted %d" % (len(der), plan.file_size))
    if len(certificate.signature) != SIGNATURE_LENGTH:
        problems.append("signature %d bytes" % len(certificate.signature))
    if der[:2] != b"\x30\x82" or int.from_bytes(der[2:4], "big") != len(der) - 4:
        problems.append("outer header does not span the file")
    if problems:
        sys.exit("certificate %d: %s" % (plan.resource_id, "; ".join(problems)))


def make_set(certificate_set):
    """Returns [(resource_id, certificate, serial_length)] for one hierarchy."""
    root_plan = certificate_set.root
    root_key = make_key(ROOT_KEY_BITS)
    root_name = make_name(root_plan.common_name)
    root_key_id = x509.SubjectKeyIdentifier.from_public_key(root_key.public_key())
    root, root_serial_length = build_to_size(
        root_plan, subject_name=root_name, issuer_name=root_name, public_key=root_key.public_key(),
        signing_key=root_key, hash_algorithm=hashes.SHA512(), path_length=1, validity=ROOT_VALIDITY,
        authority_key_id=root_key_id if certificate_set.root_has_authority_key_id else None,
        policy_address=certificate_set.has_policy_address)
    made = [(root_plan.resource_id, root, root_serial_length)]
    for plan in certificate_set.intermediates:
        intermediate_key = make_key(INTERMEDIATE_KEY_BITS)
        certificate, serial_length = build_to_size(
            plan, subject_name=make_name(plan.common_name), issuer_name=root_name,
            public_key=intermediate_key.public_key(), signing_key=root_key, hash_algorithm=hashes.SHA256(),
            path_length=0, validity=INTERMEDIATE_VALIDITY, authority_key_id=root_key_id,
            policy_address=certificate_set.has_policy_address)
        made.append((plan.resource_id, certificate, serial_length))
    return made


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: %s OUTDIR" % argv[0])
    out_dir = argv[1]
    if len(POLICY_ADDRESS) != POLICY_ADDRESS_LENGTH or not POLICY_ADDRESS.isascii():
        sys.exit("the policy address must be %d ASCII bytes" % POLICY_ADDRESS_LENGTH)

    made = make_set(PRODUCTION) + make_set(TEST)  # everything is checked before a file is written
    os.makedirs(out_dir, exist_ok=True)
    for resource_id, certificate, serial_length in sorted(made, key=lambda entry: entry[0]):
        der = certificate.public_bytes(Encoding.DER)
        with open(os.path.join(out_dir, "%d.der" % resource_id), "wb") as out:
            out.write(der)
        print("%d.der: %d bytes, serial number %d bytes" % (resource_id, len(der), serial_length))

if __name__ == "__main__":
    main(sys.argv)
