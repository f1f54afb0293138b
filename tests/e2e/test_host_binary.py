#!/usr/bin/python3
"""End-to-end runs of the host binary against a temporary XDG_DATA_HOME.

Usage: test_host_binary.py CERTINSTALL CERTIFICATE_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = sys.argv[1] if len(sys.argv) > 1 else "build/host/certinstall"
CERTIFICATES = sys.argv[2] if len(sys.argv) > 2 else "resources/certificates"

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from installer_output import ARGUMENT_COUNT, DISTRIBUTIONS, PARSED, UNKNOWN, progress  # noqa: E402


def certificate(certificate_id):
    with open(os.path.join(CERTIFICATES, f"{certificate_id}.der"), "rb") as f:
        return f.read()


def thumbprint(data):
    return hashlib.sha1(data).hexdigest().upper()


class HostBinary(unittest.TestCase):
    def setUp(self):
        self.data = tempfile.mkdtemp(prefix="certinstall-e2e-")
        self.addCleanup(shutil.rmtree, self.data)
        self.stores = os.path.join(self.data, "certinstall", "stores")

    def run_installer(self, *arguments):
        env = dict(os.environ, XDG_DATA_HOME=self.data)
        result = subprocess.run([BINARY, *arguments], env=env, capture_output=True)
        return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")

    def store_contents(self):
        """{store: {file name: bytes}} for every store directory there is."""
        contents = {}
        if os.path.isdir(self.stores):
            for store in os.listdir(self.stores):
                directory = os.path.join(self.stores, store)
                if not os.path.isdir(directory):
                    continue
                contents[store] = {}
                for name in os.listdir(directory):
                    with open(os.path.join(directory, name), "rb") as f:
                        contents[store][name] = f.read()
        return contents

    def expected_stores(self, distribution):
        stores = {}
        for certificate_id, store in DISTRIBUTIONS[distribution]:
            data = certificate(certificate_id)
            stores.setdefault(store, {})[thumbprint(data) + ".der"] = data
        return stores

    def test_each_distribution_installs_its_set_into_its_stores(self):
        for distribution, certificates in DISTRIBUTIONS.items():
            with self.subTest(distribution):
                shutil.rmtree(self.stores, ignore_errors=True)
                status, out, err = self.run_installer(distribution)
                self.assertEqual(out, "".join(progress(i) + PARSED for i, _ in certificates))
                self.assertEqual(err, "")
                self.assertEqual(status, 0)
                self.assertEqual(self.store_contents(), self.expected_stores(distribution))

    def test_second_run_adds_nothing_and_keeps_what_is_there(self):
        self.run_installer("prod")
        before = {}
        for store, files in self.store_contents().items():
            for name in files:
                before[(store, name)] = os.stat(os.path.join(self.stores, store, name)).st_ino
        status, out, err = self.run_installer("prod")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "".join(progress(i) + PARSED for i, _ in DISTRIBUTIONS["prod"]))
        after = {}
        for store, files in self.store_contents().items():
            for name in files:
                after[(store, name)] = os.stat(os.path.join(self.stores, store, name)).st_ino
        self.assertEqual(after, before)

    def test_both_distributions_share_the_stores(self):
        self.run_installer("prod")
        self.run_installer("test")
        expected = self.expected_stores("prod")
        for store, files in self.expected_stores("test").items():
            expected.setdefault(store, {}).update(files)
        self.assertEqual(self.store_contents(), expected)

    def test_bad_arguments_touch_nothing(self):
        cases = [
            ("no argument", [], ARGUMENT_COUNT),
            ("two arguments", ["prod", "test"], ARGUMENT_COUNT),
            ("capitals", ["PROD"], UNKNOWN),
            ("capital initial", ["Test"], UNKNOWN),
            ("trailing blank", ["prod "], UNKNOWN),
            ("leading blank", [" test"], UNKNOWN),
            ("longer word", ["production"], UNKNOWN),
            ("empty", [""], UNKNOWN),
            ("byte above 0x7f", [os.fsdecode(b"pr\xf3d")], UNKNOWN),
            ("long argument", ["p" * 100000], UNKNOWN),
        ]
        for name, arguments, message in cases:
            with self.subTest(name):
                status, out, err = self.run_installer(*arguments)
                self.assertEqual((status, out, err), (1, "", message))
                self.assertFalse(os.path.exists(self.stores))

    def test_store_blocked_by_a_file_fails_the_run_but_not_the_rest(self):
        os.makedirs(self.stores)
        with open(os.path.join(self.stores, "CA"), "w") as f:
            f.write("in the way")
        status, out, err = self.run_installer("prod")
        self.assertEqual(status, 1)
        self.assertEqual(out, "".join(progress(i) + PARSED for i, _ in DISTRIBUTIONS["prod"]))
        self.assertEqual(err, "Nie udało się otworzyć magazynu certyfikatów CA. Prawdopodobny kod błędu: 5\n" * 3)
        root = certificate(104)
        self.assertEqual(self.store_contents()["ROOT"], {thumbprint(root) + ".der": root})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
