#!/usr/bin/python3
"""The build itself refuses a broken certificate set, naming the file and the
rule, and with CERTIFICATE_CHECK=OFF embeds what is there.

Usage: test_build_refuses_broken_set.py CMAKE SOURCE_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

CMAKE = sys.argv[1] if len(sys.argv) > 1 else "cmake"
SOURCE = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "..")
CERTIFICATES = os.path.join(SOURCE, "resources", "certificates")


class BuildChecksTheSet(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="certinstall-set-")
        self.addCleanup(shutil.rmtree, self.work)
        self.certificates = os.path.join(self.work, "certificates")
        shutil.copytree(CERTIFICATES, self.certificates)

    def configure(self, *options):
        return subprocess.run(
            [CMAKE, "-S", SOURCE, "-B", os.path.join(self.work, "build"), "-DBUILD_TESTING=OFF",
             "-DCERTIFICATE_DIR=" + self.certificates, *options],
            capture_output=True, text=True)

    def test_sound_set_configures(self):
        result = self.configure()
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_broken_sets_are_refused_with_file_and_rule(self):
        cases = {
            "missing file": (lambda: os.remove(self.path("103.der")), "103.der", "file is missing"),
            "pem file": (lambda: self.write("105.der", b"-----BEGIN CERTIFICATE-----\nMIIF\n"), "105.der",
                         "not exactly one DER certificate"),
            "trailing bytes": (lambda: self.append("108.der", b"\0"), "108.der", "trailing bytes"),
            "other set's root": (lambda: shutil.copy(self.path("107.der"), self.path("104.der")), "104.der",
                                 "not issued by the PROD root"),
        }
        for name, (breakSet, file, rule) in cases.items():
            with self.subTest(name):
                shutil.rmtree(self.certificates)
                shutil.copytree(CERTIFICATES, self.certificates)
                breakSet()
                result = self.configure()
                self.assertNotEqual(result.returncode, 0)
                problem = [line for line in result.stderr.splitlines() if file in line and rule in line]
                self.assertTrue(problem, result.stderr)

    def test_check_off_leaves_a_missing_file_out(self):
        os.remove(self.path("103.der"))
        result = self.configure("-DCERTIFICATE_CHECK=OFF")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, "missing, so left out of the executable:\\s+" + self.path("103.der"))

        # The program then stops at the missing ID, keeping what it installed.
        build = os.path.join(self.work, "build")
        made = subprocess.run([CMAKE, "--build", build, "--target", "certinstall", "-j", "2"],
                              capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        data = os.path.join(self.work, "data")
        run = subprocess.run([os.path.join(build, "certinstall"), "prod"], capture_output=True,
                             env=dict(os.environ, XDG_DATA_HOME=data))
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr.decode(), "Podczas próby instalacji o ID: 103 wystąpił błąd: "
                         "loadCertificateFromResources(): hResource == NULL\n")
        self.assertEqual(len(os.listdir(os.path.join(data, "certinstall", "stores", "CA"))), 2)
        self.assertFalse(os.path.exists(os.path.join(data, "certinstall", "stores", "ROOT")))

    def path(self, name):
        return os.path.join(self.certificates, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def append(self, name, data):
        with open(self.path(name), "ab") as f:
            f.write(data)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
