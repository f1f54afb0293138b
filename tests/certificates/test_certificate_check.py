#!/usr/bin/python3
"""Tests of tools/check_certificate_set.py, the build's check of the certificate set.

Run with /usr/bin/python3 (it needs python3-cryptography):
    /usr/bin/python3 tests/certificates/test_certificate_check.py

Each case writes a small generated set into a temporary directory, breaks one
thing in it and runs the check as the build does.
"""

import datetime
import glob
import os
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional, Tuple

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa
from cryptography.x509.oid import NameOID

REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK_SCRIPT = os.path.join(REPOSITORY, "tools", "check_certificate_set.py")
REAL_DECLARATION = os.path.join(REPOSITORY, "resources", "certificate_set.txt")
REAL_CERTIFICATE_DIR = os.path.join(REPOSITORY, "resources", "certificates")

DECLARATION = """\
# type  id   role          file
PROD    101  intermediate  101.der
PROD    102  intermediate  102.der
PROD    103  intermediate  103.der
PROD    104  root          104.der
TEST    105  intermediate  105.der
TEST    106  intermediate  106.der
TEST    107  root          107.der
TEST    108  intermediate  108.der
"""
# Stands for the declaration file in a case's expectations.
DECLARATION_FILE = "certificate_set.txt"


def small_rsa_key():
    return rsa.generate_private_key(public_exponent=65537, key_size=1024)


PROD_ROOT_KEY = small_rsa_key()
TEST_ROOT_KEY = small_rsa_key()
INTERMEDIATE_KEY = small_rsa_key()
UNRELATED_KEY = small_rsa_key()
EC_ROOT_KEY = ec.generate_private_key(ec.SECP256R1())


def name(common_name):
    return x509.Name([
        x509.NameAttribute(NameOID.COUNTRY_NAME, "ZZ"),
        x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Example Organisation"),
        x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, "Certification Services"),
        x509.NameAttribute(NameOID.COMMON_NAME, common_name),
    ])


PROD_ROOT = name("Example Production Root CA")
TEST_ROOT = name("Example Test Root CA")
# Production intermediates have shorter subject names than their issuer, test
# ones longer: both must count as "different length".
PROD_INTERMEDIATES = {f"10{n}.der": name(f"Prod Issuing CA {n}") for n in (1, 2, 3)}
TEST_INTERMEDIATES = {f"{id}.der": name(f"Example Test Intermediate Authority {n}")
                      for id, n in ((105, 1), (106, 2), (108, 3))}
# Differs from the production root's name only in its last letter.
SAME_LENGTH_AS_PROD_ROOT = name("Example Production Root CX")


def issue(subject, issuer, subject_key, signing_key):
    """Returns the DER of a CA certificate for subject_key signed by signing_key."""
    now = datetime.datetime(2024, 1, 1)
    builder = (x509.CertificateBuilder()
               .subject_name(subject)
               .issuer_name(issuer)
               .public_key(subject_key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now)
               .not_valid_after(now + datetime.timedelta(days=3650))
               .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True))
    return builder.sign(signing_key, hashes.SHA256()).public_bytes(serialization.Encoding.DER)


def sound_set():
    files = {
        "104.der": issue(PROD_ROOT, PROD_ROOT, PROD_ROOT_KEY, PROD_ROOT_KEY),
        "107.der": issue(TEST_ROOT, TEST_ROOT, TEST_ROOT_KEY, TEST_ROOT_KEY),
    }
    for file, subject in PROD_INTERMEDIATES.items():
        files[file] = issue(subject, PROD_ROOT, INTERMEDIATE_KEY, PROD_ROOT_KEY)
    for file, subject in TEST_INTERMEDIATES.items():
        files[file] = issue(subject, TEST_ROOT, INTERMEDIATE_KEY, TEST_ROOT_KEY)
    return files


def as_pem(der):
    certificate = x509.load_der_x509_certificate(der)
    return certificate.public_bytes(serialization.Encoding.PEM)


def encoded_name_length(name):
    return len(name.public_bytes())


MISSING = None


@dataclass
class BrokenSet:
    name: str
    # file -> function from the sound set to its new content, or to MISSING.
    files: Dict[str, Callable[[dict], Optional[bytes]]]
    # (file or DECLARATION_FILE, phrase that the line naming it must hold)
    expected: List[Tuple[str, str]]
    # A file of the same run that must not be named.
    sound_file: str
    declaration: Callable[[str], str] = field(default=lambda text: text)


def with_role(file, role):
    """Returns a change of the declaration that gives file the role."""
    def change(text):
        lines = []
        for line in text.splitlines():
            fields = line.split()
            if fields[-1] == file:
                fields[2] = role
                line = "  ".join(fields)
            lines.append(line)
        return "\n".join(lines) + "\n"
    return change


BROKEN_SETS = [
    BrokenSet("missing file",
              {"102.der": lambda sound: MISSING},
              [("102.der", "file is missing")], sound_file="101.der"),
    BrokenSet("empty file",
              {"103.der": lambda sound: b""},
              [("103.der", "empty file")], sound_file="102.der"),
    BrokenSet("PEM file",
              {"101.der": lambda sound: as_pem(sound["101.der"])},
              [("101.der", "PEM text, not DER")], sound_file="102.der"),
    BrokenSet("trailing bytes",
              {"105.der": lambda sound: sound["105.der"] + b"\x00\x00\x00"},
              [("105.der", "3 trailing bytes after the certificate")], sound_file="106.der"),
    BrokenSet("truncated",
              {"106.der": lambda sound: sound["106.der"][:-20]},
              [("106.der", "truncated")], sound_file="105.der"),
    BrokenSet("header cut short",
              {"108.der": lambda sound: sound["108.der"][:3]},
              [("108.der", "truncated")], sound_file="105.der"),
    BrokenSet("bytes that are no certificate",
              {"101.der": lambda sound: b"\x30\x03\x02\x01\x05"},
              [("101.der", "not a parseable X.509 certificate")], sound_file="102.der"),
    # The intermediates still name and are signed by this root, so they pass.
    BrokenSet("root whose names differ",
              {"104.der": lambda sound: issue(PROD_ROOT, name("Another Root"), PROD_ROOT_KEY, PROD_ROOT_KEY)},
              [("104.der", "issuer and subject names are not byte-identical")], sound_file="101.der"),
    BrokenSet("root signed by another key",
              {"107.der": lambda sound: issue(TEST_ROOT, TEST_ROOT, TEST_ROOT_KEY, UNRELATED_KEY)},
              [("107.der", "root certificate is not self-signed")], sound_file="105.der"),
    BrokenSet("intermediate issued by the other set's root",
              {"102.der": lambda sound: issue(PROD_INTERMEDIATES["102.der"], TEST_ROOT,
                                              INTERMEDIATE_KEY, TEST_ROOT_KEY)},
              [("102.der", "not issued by the PROD root"),
               ("102.der", "not signed by the PROD root's key")], sound_file="101.der"),
    BrokenSet("intermediate with the root's name but another key",
              {"108.der": lambda sound: issue(TEST_INTERMEDIATES["108.der"], TEST_ROOT,
                                              INTERMEDIATE_KEY, UNRELATED_KEY)},
              [("108.der", "not signed by the TEST root's key")], sound_file="105.der"),
    BrokenSet("intermediate whose names have the same length",
              {"103.der": lambda sound: issue(SAME_LENGTH_AS_PROD_ROOT, PROD_ROOT,
                                              INTERMEDIATE_KEY, PROD_ROOT_KEY)},
              [("103.der", "same encoded length")], sound_file="101.der"),
    # Without the root only an intermediate's own names can be checked, and
    # the others must not be blamed for what cannot be checked.
    BrokenSet("missing root, intermediate still checked",
              {"104.der": lambda sound: MISSING,
               "103.der": lambda sound: issue(SAME_LENGTH_AS_PROD_ROOT, PROD_ROOT,
                                              INTERMEDIATE_KEY, PROD_ROOT_KEY)},
              [("104.der", "file is missing"), ("103.der", "same encoded length")],
              sound_file="101.der"),
    BrokenSet("root with a key that is not RSA",
              {"107.der": lambda sound: issue(TEST_ROOT, TEST_ROOT, EC_ROOT_KEY, EC_ROOT_KEY),
               "105.der": lambda sound: issue(TEST_INTERMEDIATES["105.der"], TEST_ROOT,
                                              INTERMEDIATE_KEY, EC_ROOT_KEY)},
              [("107.der", "not self-signed (its signature cannot be checked"),
               ("107.der", "only RSA keys are supported"),
               ("105.der", "not signed by the TEST root's key")], sound_file="101.der"),
    BrokenSet("type without a root",
              {}, [(DECLARATION_FILE, "type PROD must have exactly one root")],
              sound_file="105.der", declaration=with_role("104.der", "intermediate")),
    BrokenSet("type with two roots",
              {}, [(DECLARATION_FILE, "type TEST must have exactly one root")],
              sound_file="101.der", declaration=with_role("105.der", "root")),
    BrokenSet("unreadable declaration line",
              {}, [(DECLARATION_FILE, "unreadable declaration line")],
              sound_file="101.der", declaration=lambda text: text + "TEST 109 root\n"),
    BrokenSet("unknown role",
              {}, [(DECLARATION_FILE, "unreadable declaration line (role 'leaf'")],
              sound_file="101.der", declaration=lambda text: text + "TEST 109 leaf 109.der\n"),
    BrokenSet("ID declared twice",
              {}, [(DECLARATION_FILE, "id 101 is declared twice")],
              sound_file="102.der", declaration=lambda text: text + "TEST 101 intermediate 108.der\n"),
]


class CertificateSetCheckTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        # The cases about name lengths mean nothing unless these hold.
        root_length = encoded_name_length(PROD_ROOT)
        if (any(encoded_name_length(subject) == root_length for subject in PROD_INTERMEDIATES.values())
                or encoded_name_length(SAME_LENGTH_AS_PROD_ROOT) != root_length
                or SAME_LENGTH_AS_PROD_ROOT == PROD_ROOT):
            raise AssertionError("the fixture's names do not have the lengths the cases rely on")
        cls.sound = sound_set()

    def run_check(self, declaration_path, certificate_dir):
        return subprocess.run(
            [sys.executable, CHECK_SCRIPT, "--set", declaration_path, "--dir", certificate_dir],
            capture_output=True, text=True)

    def write_set(self, directory, files, declaration_text):
        certificate_dir = os.path.join(directory, "certificates")
        os.mkdir(certificate_dir)
        for file, content in files.items():
            if content is not MISSING:
                with open(os.path.join(certificate_dir, file), "wb") as out:
                    out.write(content)
        declaration_path = os.path.join(directory, DECLARATION_FILE)
        with open(declaration_path, "w") as out:
            out.write(declaration_text)
        return declaration_path, certificate_dir

    def test_sound_set_passes_silently(self):
        with tempfile.TemporaryDirectory() as directory:
            result = self.run_check(*self.write_set(directory, self.sound, DECLARATION))
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))

    def test_broken_sets_are_refused_naming_the_file_and_rule(self):
        for case in BROKEN_SETS:
            with self.subTest(case.name), tempfile.TemporaryDirectory() as directory:
                files = dict(self.sound)
                for file, change in case.files.items():
                    files[file] = change(self.sound)
                declaration_path, certificate_dir = self.write_set(
                    directory, files, case.declaration(DECLARATION))
                result = self.run_check(declaration_path, certificate_dir)

                def path_of(file):
                    return declaration_path if file == DECLARATION_FILE else os.path.join(certificate_dir, file)

                lines = result.stderr.splitlines()
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stdout, "")
                for file, phrase in case.expected:
                    self.assertTrue(
                        any(line.startswith(path_of(file) + ":") and phrase in line for line in lines),
                        f"no line names {file} with {phrase!r}:\n{result.stderr}")
                self.assertFalse(
                    any(line.startswith(path_of(case.sound_file) + ":") for line in lines),
                    f"the sound file {case.sound_file} is named:\n{result.stderr}")

    def test_unreadable_declaration_file_is_refused(self):
        with tempfile.TemporaryDirectory() as directory:
            missing = os.path.join(directory, "no_such_set.txt")
            result = self.run_check(missing, directory)
        self.assertEqual(result.returncode, 1)
        self.assertIn(missing + ": declaration cannot be read", result.stderr)

    def test_committed_set_passes_with_the_real_declaration(self):
        if not glob.glob(os.path.join(REAL_CERTIFICATE_DIR, "*.der")):
            self.skipTest(f"no committed certificates in {REAL_CERTIFICATE_DIR} yet")
        result = self.run_check(REAL_DECLARATION, REAL_CERTIFICATE_DIR)
        self.assertEqual((result.returncode, result.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
