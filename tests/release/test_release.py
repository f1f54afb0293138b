#!/usr/bin/python3
"""tools/release.sh: the certificate set it is given, and the release with
and without a signing key.

Usage: test_release.py SOURCE_DIR WORK_DIR

Builds with a changed copy of the development set, signs with throwaway code-signing certificates made here, checks the result
with osslsigncode, tampers with copies, runs the signed program under Wine in
a prefix of its own and time-stamps through a time-stamp server on
127.0.0.1. Everything is made under WORK_DIR; all runs share one build
directory, so only the first one compiles.
"""
import datetime
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

import pefile
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build")
RELEASE = os.path.join(SOURCE, "tools", "release.sh")

sys.path.insert(0, os.path.join(SOURCE, "tools"))
import wine_prefix  # noqa: E402

DEVELOPMENT_SET = os.path.join(SOURCE, "resources", "certificates")
FIRST_LINE_OF_TEST = "Wczytuję certyfikat z zasobów, ID: 105...\r\n"
PASSWORD = "correct horse"


class Signer:
    """A self-made certificate for one extended key usage, and its key, as PEM files."""

    def __init__(self, directory, name, usage):
        self.key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
        now = datetime.datetime.now(datetime.timezone.utc)
        self.certificate = (
            x509.CertificateBuilder()
            .subject_name(subject)
            .issuer_name(subject)
            .public_key(self.key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(hours=1))
            .not_valid_after(now + datetime.timedelta(days=1))
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                                         data_encipherment=False, key_agreement=False, key_cert_sign=False,
                                         crl_sign=False, encipher_only=False, decipher_only=False), critical=True)
            .add_extension(x509.ExtendedKeyUsage([usage]), critical=True)
            .sign(self.key, hashes.SHA256()))
        self.subject = "/CN=" + name
        base = os.path.join(directory, name.replace(" ", "-"))
        self.cert = base + ".crt.pem"
        self.key_file = base + ".key.pem"
        self.encrypted_key_file = base + ".encrypted.key.pem"
        self.pkcs12 = base + ".p12"
        with open(self.cert, "wb") as f:
            f.write(self.certificate.public_bytes(serialization.Encoding.PEM))
        self._write_key(self.key_file, serialization.NoEncryption())
        self._write_key(self.encrypted_key_file, serialization.BestAvailableEncryption(PASSWORD.encode()))
        with open(self.pkcs12, "wb") as f:
            f.write(pkcs12.serialize_key_and_certificates(
                name.encode(), self.key, self.certificate, None,
                serialization.BestAvailableEncryption(PASSWORD.encode())))

    def _write_key(self, path, encryption):
        with open(path, "wb") as f:
            f.write(self.key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, encryption))


class TimeStampServer:
    """An RFC 3161 time-stamp authority on 127.0.0.1 (openssl ts -reply), for
    as long as the `with` block lasts; counts the requests it answered."""

    def __init__(self, directory, authority):
        self.directory = directory
        self.authority = authority
        self.config = os.path.join(directory, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write("[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\n"
                    f"serial = {os.path.join(directory, 'tsa-serial')}\n"
                    "default_policy = 1.2.3.4.1\ndigests = sha256, sha1\naccuracy = secs:1\n"
                    "ess_cert_id_alg = sha256\nsigner_digest = sha256\n")
        with open(os.path.join(directory, "tsa-serial"), "w") as f:
            f.write("01\n")
        self.requests = 0

    def reply(self, query):
        query_file = os.path.join(self.directory, "query.tsq")
        reply_file = os.path.join(self.directory, "reply.tsr")
        with open(query_file, "wb") as f:
            f.write(query)
        subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", query_file,
                        "-inkey", self.authority.key_file, "-signer", self.authority.cert, "-out", reply_file],
                       check=True, capture_output=True)
        with open(reply_file, "rb") as f:
            return f.read()

    def __enter__(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                reply = server.reply(self.rfile.read(int(self.headers["Content-Length"])))
                server.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *arguments):
                pass

        self.http = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.http.server_address[1]}/"
        self.thread = threading.Thread(target=self.http.serve_forever)
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.http.shutdown()
        self.thread.join()
        self.http.server_close()


def verify(path, ca_file, *options):
    return subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", ca_file, "-ignore-cdp", *options],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def has_signature(path):
    pe = pefile.PE(path, fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return security.VirtualAddress != 0 and security.Size != 0


def flip_byte(source, target, offset):
    shutil.copyfile(source, target)
    with open(target, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)[0]
        f.seek(offset)
        f.write(bytes([byte ^ 0xFF]))


def embedded_certificate(path, distribution, certificate_id):
    """The bytes of resource <distribution>/<certificate_id> in the executable."""
    pe = pefile.PE(path)
    for resource_type in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if resource_type.name is not None and str(resource_type.name) == distribution:
            for entry in resource_type.directory.entries:
                if entry.id == certificate_id:
                    data = entry.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def read(path):
    with open(path, "rb") as f:
        return f.read()


def section_start(path, name):
    pe = pefile.PE(path, fast_load=True)
    section = next(s for s in pe.sections if s.Name.rstrip(b"\0") == name)
    return section.PointerToRawData


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.work = tempfile.mkdtemp(prefix="release-", dir=WORK)
        cls.build = os.path.join(cls.work, "build")
        cls.signer = Signer(cls.work, "Throwaway code signing", ExtendedKeyUsageOID.CODE_SIGNING)
        cls.stranger = Signer(cls.work, "Someone else", ExtendedKeyUsageOID.CODE_SIGNING)
        cls.authority = Signer(cls.work, "Throwaway time stamps", ExtendedKeyUsageOID.TIME_STAMPING)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def release(self, **options):
        """Runs tools/release.sh with these variables into a new dist directory; returns (status, output, dist)."""
        dist = tempfile.mkdtemp(prefix="dist-", dir=self.work)
        env = {name: value for name, value in os.environ.items()
               if not name.startswith("SIGN_") and not name.startswith("CERTIFICATE_")}
        env.update(options, RELEASE_BUILD_DIR=self.build, DIST_DIR=dist)
        result = subprocess.run([RELEASE], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return result.returncode, result.stdout, dist

    def signed_release(self):
        status, output, dist = self.release(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file)
        self.assertEqual(status, 0, output)
        return os.path.join(dist, "certinstall.exe")

    def assert_sha256_file_matches(self, dist):
        check = subprocess.run(["sha256sum", "--check", "--strict", "certinstall.exe.sha256"], cwd=dist,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def assert_no_release(self, dist):
        self.assertEqual(os.listdir(dist), [])

    def test_the_given_certificate_set_is_checked_and_embedded_and_does_not_linger(self):
        # PROD's root replaced by TEST's: a set that breaks a rule.
        broken = os.path.join(self.work, "broken-set")
        shutil.copytree(DEVELOPMENT_SET, broken)
        shutil.copyfile(os.path.join(DEVELOPMENT_SET, "107.der"), os.path.join(broken, "104.der"))
        cases = [
            # (what the release is given, it succeeds, PROD 104 is then the file)
            (dict(CERTIFICATE_DIR=broken), False, None),
            (dict(CERTIFICATE_DIR=broken, CERTIFICATE_CHECK="OFF"), True, os.path.join(broken, "104.der")),
            # The same build directory, then no set given: the development set again.
            ({}, True, os.path.join(DEVELOPMENT_SET, "104.der")),
        ]
        for given, succeeds, root in cases:
            with self.subTest(**given):
                status, output, dist = self.release(**given)
                if not succeeds:
                    self.assertNotEqual(status, 0, output)
                    self.assertIn("101.der: intermediate certificate is not issued by the PROD root", output)
                    self.assert_no_release(dist)
                    continue
                self.assertEqual(status, 0, output)
                embedded = embedded_certificate(os.path.join(dist, "certinstall.exe"), "PROD", 104)
                self.assertTrue(embedded == read(root), f"PROD 104 in the executable is not {root}")

    def test_without_a_key_the_file_is_unsigned_and_the_release_says_so(self):
        status, output, dist = self.release()
        self.assertEqual(status, 0, output)
        self.assertIn("certinstall.exe is UNSIGNED", output)
        self.assertFalse(has_signature(os.path.join(dist, "certinstall.exe")))
        self.assert_sha256_file_matches(dist)

    def test_each_form_of_key_signs_a_file_that_verifies(self):
        forms = {
            "PEM certificate and key": dict(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file),
            "PEM with an encrypted key": dict(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.encrypted_key_file,
                                              SIGN_PASSWORD=PASSWORD),
            "PKCS#12 file": dict(SIGN_PKCS12=self.signer.pkcs12, SIGN_PASSWORD=PASSWORD),
        }
        for form, signing in forms.items():
            with self.subTest(form):
                status, output, dist = self.release(**signing)
                self.assertEqual(status, 0, output)
                self.assertNotIn("UNSIGNED", output)
                exe = os.path.join(dist, "certinstall.exe")
                self.assertTrue(has_signature(exe))
                result = verify(exe, self.signer.cert)
                self.assertEqual(result.returncode, 0, result.stdout)
                self.assertIn("Subject: " + self.signer.subject, result.stdout)
                # The SHA-256 is of the signed file, the one that ships.
                self.assert_sha256_file_matches(dist)

    def test_a_tampered_copy_fails_verification(self):
        exe = self.signed_release()
        self.assertEqual(verify(exe, self.signer.cert).returncode, 0)
        # The first byte of the code, and the first of the resources (the
        # certificates' directory).
        for section in (b".text", b".rsrc"):
            with self.subTest(section.decode()):
                tampered = os.path.join(self.work, "tampered.exe")
                flip_byte(exe, tampered, section_start(exe, section))
                result = verify(tampered, self.signer.cert)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn("MISMATCH", result.stdout)

    def test_the_signed_file_runs_under_wine(self):
        exe = self.signed_release()
        prefix = os.path.join(self.work, "wine-prefix")
        wine_prefix.create("wine", prefix)
        result = wine_prefix.run("wine", prefix, exe, ["test"], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.decode("utf-8").startswith(FIRST_LINE_OF_TEST), result.stdout)

    def test_a_signature_that_does_not_verify_fails_the_release(self):
        status, output, dist = self.release(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file,
                                            SIGN_CA_FILE=self.stranger.cert)
        self.assertNotEqual(status, 0, output)
        self.assertIn("does not verify", output)
        self.assert_no_release(dist)

    def test_incomplete_or_wrong_signing_options_fail_the_release(self):
        cases = {
            "certificate without key": dict(SIGN_CERT=self.signer.cert),
            "key without certificate": dict(SIGN_KEY=self.signer.key_file),
            "another certificate's key": dict(SIGN_CERT=self.signer.cert, SIGN_KEY=self.stranger.key_file),
            "PEM and PKCS#12 at once": dict(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file,
                                            SIGN_PKCS12=self.signer.pkcs12),
            "wrong PKCS#12 password": dict(SIGN_PKCS12=self.signer.pkcs12, SIGN_PASSWORD="wrong"),
            "missing key file": dict(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file + ".missing"),
            "time-stamp server without key": dict(SIGN_TIMESTAMP_URL="http://127.0.0.1:9/"),
        }
        for case, signing in cases.items():
            with self.subTest(case):
                status, output, dist = self.release(**signing)
                self.assertNotEqual(status, 0, output)
                self.assertIn("release: error:", output)
                self.assert_no_release(dist)

    def test_time_stamp_from_a_server(self):
        cases = {
            # (CAs trusted for the time stamp, the release succeeds)
            "trusted time-stamp authority": (self.authority.cert, True),
            "untrusted time-stamp authority": (self.stranger.cert, False),
        }
        for case, (timestamp_ca, succeeds) in cases.items():
            with self.subTest(case), TimeStampServer(self.work, self.authority) as server:
                status, output, dist = self.release(SIGN_CERT=self.signer.cert, SIGN_KEY=self.signer.key_file,
                                                    SIGN_TIMESTAMP_URL=server.url,
                                                    SIGN_TIMESTAMP_CA_FILE=timestamp_ca)
                self.assertEqual(server.requests, 1, output)
                if succeeds:
                    self.assertEqual(status, 0, output)
                    exe = os.path.join(dist, "certinstall.exe")
                    result = verify(exe, self.signer.cert, "-TSA-CAfile", self.authority.cert)
                    self.assertEqual(result.returncode, 0, result.stdout)
                    self.assertIn("Timestamp Server Signature verification: ok", result.stdout)
                else:
                    self.assertNotEqual(status, 0, output)
                    self.assertIn("time stamp", output)
                    self.assert_no_release(dist)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
