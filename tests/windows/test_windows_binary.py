#!/usr/bin/python3
"""End-to-end runs of certinstall.exe under Wine, each in a fresh copy of an
initialised prefix, so that every run starts with empty stores.

Usage: test_windows_binary.py CERTINSTALL_EXE CERTIFICATE_DIR TEMPLATE_PREFIX WORK_DIR [WINE]
"""
import hashlib
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import wine_prefix  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import installer_output  # noqa: E402

EXE, CERTIFICATES, TEMPLATE, WORK = sys.argv[1:5] if len(sys.argv) > 4 else (None,) * 4
WINE = sys.argv[5] if len(sys.argv) > 5 else "wine"

# The streams are in text mode: every line ends in CR LF on the handle.
PARSED = installer_output.on_windows(installer_output.PARSED)
UNKNOWN = installer_output.on_windows(installer_output.UNKNOWN)
ARGUMENT_COUNT = installer_output.on_windows(installer_output.ARGUMENT_COUNT)
DISTRIBUTIONS = installer_output.DISTRIBUTIONS


def progress(certificate_id):
    return installer_output.on_windows(installer_output.progress(certificate_id))


def certificate(certificate_id):
    with open(os.path.join(CERTIFICATES, f"{certificate_id}.der"), "rb") as f:
        return f.read()


class WindowsBinary(unittest.TestCase):
    def run_in_fresh_prefix(self, name, *arguments):
        prefix = os.path.join(WORK, name)
        wine_prefix.copy(TEMPLATE, prefix)
        result = wine_prefix.run(WINE, prefix, EXE, arguments, capture_output=True)
        return result, wine_prefix.stores(prefix)

    def test_each_distribution_reports_in_text_mode_and_fills_its_stores(self):
        for distribution, certificates in DISTRIBUTIONS.items():
            with self.subTest(distribution):
                result, stores = self.run_in_fresh_prefix(distribution, distribution)
                self.assertEqual(result.stdout, b"".join(progress(i) + PARSED for i, _ in certificates))
                self.assertEqual(result.stderr, b"")
                self.assertEqual(result.returncode, 0)
                expected = {"ROOT": {}, "CA": {}}
                for certificate_id, store in certificates:
                    data = certificate(certificate_id)
                    expected[store][hashlib.sha1(data).hexdigest().upper()] = data
                self.assertEqual(stores, expected)

    def test_bad_arguments_are_one_error_line_and_touch_no_store(self):
        cases = [
            ("no argument", [], ARGUMENT_COUNT),
            # The resource lookup ignores case; the argument check must not.
            ("capitals", ["PROD"], UNKNOWN),
        ]
        for name, arguments, message in cases:
            with self.subTest(name):
                result, stores = self.run_in_fresh_prefix(name.replace(" ", "-"), *arguments)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", message))
                self.assertEqual(stores, {"ROOT": {}, "CA": {}})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
