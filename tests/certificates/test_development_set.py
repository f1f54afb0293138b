#!/usr/bin/python3
"""Checks the committed certificate files against the layout the installer relies on.

The installer files a certificate under "ROOT" when its encoded issuer and
subject names are of equal length and under "CA" otherwise, so the name
lengths, the file sizes and the hierarchy of each set are checked exactly.

Usage: /usr/bin/python3 tests/certificates/test_development_set.py [CERT_DIR]
CERT_DIR defaults to resources/certificates in this repository.
"""

import os
import sys
import unittest
from typing import NamedTuple

from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.x509.oid import ExtensionOID, ObjectIdentifier

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CERT_DIR = os.path.join(REPO_ROOT, "resources", "certificates")


class Expected(NamedTuple):
    distribution: str
    root_id: int
    file_size: int
    issuer_name: int  # length of the complete DER encoding of the name
    subject_name: int
    key_bits: int
    signature: str
    path_length: int
    extensions: str  # see EXTENSIONS


EXPECTED = {
    #            set     root  size  issuer subject key  signature  path extensions
    101: Expected("prod", 104, 1387, 142, 116, 2048, "sha256", 0, "BC KU SKI AKI CRL POL"),
    102: Expected("prod", 104, 1387, 142, 116, 2048, "sha256", 0, "BC KU SKI AKI CRL POL"),
    103: Expected("prod", 104, 1404, 142, 133, 2048, "sha256", 0, "BC KU SKI AKI CRL POL"),
    104: Expected("prod", 104, 1611, 142, 142, 4096, "sha512", 1, "BC KU SKI AKI POL"),
    105: Expected("test", 107, 1289, 110, 121, 2048, "sha256", 0, "BC KU SKI AKI CRL"),
    106: Expected("test", 107, 1289, 110, 121, 2048, "sha256", 0, "BC KU SKI AKI CRL"),
    107: Expected("test", 107, 1436, 110, 110, 4096, "sha512", 1, "BC KU SKI"),
    108: Expected("test", 107, 1306, 110, 138, 2048, "sha256", 0, "BC KU SKI AKI CRL"),
}

ANY_POLICY = ObjectIdentifier("2.5.29.32.0")

# Short name -> (identifier, critical)
EXTENSIONS = {
    "BC": (ExtensionOID.BASIC_CONSTRAINTS, True),
    "KU": (ExtensionOID.KEY_USAGE, True),
    "SKI": (ExtensionOID.SUBJECT_KEY_IDENTIFIER, False),
    "AKI": (ExtensionOID.AUTHORITY_KEY_IDENTIFIER, False),
    "CRL": (ExtensionOID.CRL_DISTRIBUTION_POINTS, False),
    "POL": (ANY_POLICY, False),
}

# AlgorithmIdentifier encodings: OID followed by NULL parameters.
SIGNATURE_ALGORITHMS = {
    "sha256": bytes.fromhex("300d06092a864886f70d01010b0500"),
    "sha512": bytes.fromhex("300d06092a864886f70d01010d0500"),
}
HASHES = {"sha256": hashes.SHA256, "sha512": hashes.SHA512}
RSA_ENCRYPTION = bytes.fromhex("300d06092a864886f70d0101010500")
VERSION_3 = bytes.fromhex("a003020102")

# Attribute types in the required order, with the string tag each value must have.
NAME_ATTRIBUTES = [
    (bytes.fromhex("0603550406"), 0x13),  # country, PrintableString
    (bytes.fromhex("060355040a"), 0x0C),  # organisation, UTF8String
    (bytes.fromhex("060355040b"), 0x0C),  # organisational unit, UTF8String
    (bytes.fromhex("0603550403"), 0x0C),  # common name, UTF8String
]

SEQUENCE, SET, INTEGER, BIT_STRING, UTC_TIME = 0x30, 0x31, 0x02, 0x03, 0x17
SECONDS_PER_YEAR = 365.25 * 24 * 3600


class Tlv(NamedTuple):
    tag: int
    raw: bytes  # the whole element, header included
    content: bytes


def elements(data):
    """Splits concatenated DER elements (single-byte tags only, enough for certificates)."""
    found = []
    offset = 0
    while offset < len(data):
        tag, length = data[offset], data[offset + 1]
        start = offset + 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[start:start + count], "big")
            start += count
        end = start + length
        if end > len(data):
            raise ValueError("element at %d runs past its container" % offset)
        found.append(Tlv(tag, data[offset:end], data[start:end]))
        offset = end
    return found


class Parsed(NamedTuple):
    der: bytes
    certificate: x509.Certificate
    tbs: list  # the fields of the signed part, in order
    outer: list  # signed part, signature algorithm, signature value


_cache = {}


def load(resource_id):
    if resource_id not in _cache:
        with open(os.path.join(CERT_DIR, "%d.der" % resource_id), "rb") as f:
            der = f.read()
        (whole,) = elements(der)
        outer = elements(whole.content)
        _cache[resource_id] = Parsed(der, x509.load_der_x509_certificate(der), elements(outer[0].content), outer)
    return _cache[resource_id]


def issuer_of(parsed):
    return parsed.tbs[3]


def subject_of(parsed):
    return parsed.tbs[5]


def name_attributes(name):
    """[(type, value element)] of a name whose RDNs each hold one attribute; asserts that shape."""
    assert name.tag == SEQUENCE
    attributes = []
    for rdn in elements(name.content):
        assert rdn.tag == SET, "RDN is not a SET"
        (attribute,) = elements(rdn.content)  # exactly one attribute per RDN
        attribute_type, value = elements(attribute.content)
        attributes.append((attribute_type.raw, value))
    return attributes


class DevelopmentSetTest(unittest.TestCase):

    def test_file_is_one_version_3_certificate_of_exact_size(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                self.assertEqual(len(parsed.der), expected.file_size)
                self.assertEqual(parsed.der[:2], b"\x30\x82")
                self.assertEqual(int.from_bytes(parsed.der[2:4], "big"), len(parsed.der) - 4)
                self.assertEqual(len(parsed.outer), 3)
                self.assertEqual(parsed.tbs[0].raw, VERSION_3)
                self.assertEqual(parsed.certificate.version, x509.Version.v3)

    def test_serial_number_is_positive(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                serial = parsed.tbs[1]
                self.assertEqual(serial.tag, INTEGER)
                self.assertLess(serial.content[0], 0x80)
                self.assertGreater(parsed.certificate.serial_number, 0)

    def test_encoded_name_lengths(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                self.assertEqual(len(issuer_of(parsed).raw), expected.issuer_name)
                self.assertEqual(len(subject_of(parsed).raw), expected.subject_name)

    def test_name_attribute_order_and_string_types(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                for name in (issuer_of(parsed), subject_of(parsed)):
                    attributes = name_attributes(name)
                    self.assertEqual([(t, v.tag) for t, v in attributes], NAME_ATTRIBUTES)
                    country = attributes[0][1].content
                    self.assertEqual(len(country), 2)
                    self.assertTrue(country.isascii() and country.isalpha())

    def test_country_organisation_and_unit_are_shared_by_every_name(self):
        shared = set()
        for resource_id in EXPECTED:
            parsed = load(resource_id)
            for name in (issuer_of(parsed), subject_of(parsed)):
                shared.add(tuple(value.raw for _, value in name_attributes(name)[:3]))
        self.assertEqual(len(shared), 1, shared)

    def test_no_two_certificates_share_a_subject_name(self):
        subjects = [subject_of(load(resource_id)).raw for resource_id in EXPECTED]
        self.assertEqual(len(set(subjects)), len(subjects))

    def test_roots_are_self_issued_and_intermediates_issued_by_their_root(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                root = load(expected.root_id)
                self.assertEqual(issuer_of(parsed).raw, subject_of(root).raw)
                if resource_id == expected.root_id:
                    self.assertEqual(issuer_of(parsed).raw, subject_of(parsed).raw)
                else:
                    self.assertNotEqual(len(issuer_of(parsed).raw), len(subject_of(parsed).raw))

    def test_signature_verifies_with_root_key(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                root_key = load(expected.root_id).certificate.public_key()
                signature_value = parsed.outer[2]
                self.assertEqual(signature_value.tag, BIT_STRING)
                self.assertEqual(signature_value.content[0], 0)  # no unused bits
                self.assertEqual(len(parsed.certificate.signature), 512)
                root_key.verify(parsed.certificate.signature, parsed.certificate.tbs_certificate_bytes,
                                padding.PKCS1v15(), HASHES[expected.signature]())

    def test_signature_algorithm_with_null_parameters(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                self.assertEqual(parsed.tbs[2].raw, SIGNATURE_ALGORITHMS[expected.signature])
                self.assertEqual(parsed.outer[1].raw, SIGNATURE_ALGORITHMS[expected.signature])
                self.assertIsInstance(parsed.certificate.signature_hash_algorithm, HASHES[expected.signature])

    def test_public_key(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                key = parsed.certificate.public_key()
                self.assertIsInstance(key, rsa.RSAPublicKey)
                self.assertEqual(key.key_size, expected.key_bits)
                self.assertEqual(key.public_numbers().e, 65537)
                self.assertEqual(elements(parsed.tbs[6].content)[0].raw, RSA_ENCRYPTION)

    def test_extension_set_and_criticality(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                present = sorted((e.oid.dotted_string, e.critical) for e in parsed.certificate.extensions)
                wanted = sorted((EXTENSIONS[n][0].dotted_string, EXTENSIONS[n][1]) for n in expected.extensions.split())
                self.assertEqual(present, wanted)

    def test_basic_constraints_key_usage_and_key_identifiers(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                extensions = parsed.certificate.extensions
                constraints = extensions.get_extension_for_class(x509.BasicConstraints).value
                self.assertTrue(constraints.ca)
                self.assertEqual(constraints.path_length, expected.path_length)
                usage = extensions.get_extension_for_class(x509.KeyUsage).value
                used = [flag for flag in ("digital_signature", "content_commitment", "key_encipherment",
                                          "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign")
                        if getattr(usage, flag)]
                self.assertEqual(used, ["key_cert_sign", "crl_sign"])
                self.assertEqual(len(extensions.get_extension_for_class(x509.SubjectKeyIdentifier).value.digest), 20)

    def test_authority_key_id_is_root_subject_key_id(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                if "AKI" not in expected.extensions.split():
                    continue
                root = load(expected.root_id).certificate
                root_key_id = root.extensions.get_extension_for_class(x509.SubjectKeyIdentifier).value.digest
                authority = parsed.certificate.extensions.get_extension_for_class(x509.AuthorityKeyIdentifier).value
                self.assertEqual(authority.key_identifier, root_key_id)
                self.assertIsNone(authority.authority_cert_issuer)
                self.assertIsNone(authority.authority_cert_serial_number)

    def test_crl_distribution_point_holds_one_uri(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                if "CRL" not in expected.extensions.split():
                    continue
                points = parsed.certificate.extensions.get_extension_for_class(x509.CRLDistributionPoints).value
                self.assertEqual(len(points), 1)
                (point,) = points
                self.assertEqual(len(point.full_name), 1)
                self.assertIsInstance(point.full_name[0], x509.UniformResourceIdentifier)
                self.assertIsNone(point.relative_name)
                self.assertIsNone(point.reasons)
                self.assertIsNone(point.crl_issuer)

    def test_any_policy_extension_holds_plain_address_text(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                if "POL" not in expected.extensions.split():
                    continue
                value = parsed.certificate.extensions.get_extension_for_oid(ANY_POLICY).value.value
                self.assertEqual(len(value), 66)
                self.assertTrue(all(0x20 < byte < 0x7F for byte in value), value)
                self.assertTrue(value.startswith((b"http://", b"https://")), value)

    def test_validity_is_utctime_of_the_right_span(self):
        for resource_id, expected in EXPECTED.items():
            with self.subTest(id=resource_id):
                parsed = load(resource_id)
                validity = elements(parsed.tbs[4].content)
                self.assertEqual([bound.tag for bound in validity], [UTC_TIME, UTC_TIME])
                certificate = parsed.certificate
                years = (certificate.not_valid_after - certificate.not_valid_before).total_seconds() / SECONDS_PER_YEAR
                self.assertAlmostEqual(years, 23 if resource_id == expected.root_id else 11, delta=0.5)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        CERT_DIR = sys.argv.pop(1)
    unittest.main()
