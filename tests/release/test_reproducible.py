#!/usr/bin/python3
"""Two clones of one commit, at different paths, give the same unsigned
release executable, byte for byte.

Usage: test_reproducible.py SOURCE_DIR WORK_DIR

Clones SOURCE_DIR's HEAD twice under WORK_DIR (so only committed work is
built), runs tools/release.sh in each with no signing key, one after the
other, and compares the two dist/certinstall.exe files and their SHA-256
files. The clones differ in the length and the name of every absolute path,
and the builds in their time.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build")


def release_environment():
    """The caller's environment without any signing key or certificate set."""
    return {name: value for name, value in os.environ.items()
            if not name.startswith("SIGN_") and not name.startswith("CERTIFICATE_")}


def where_files_differ(first_path, second_path):
    """Describes the first differing byte: its offset and the PE part it is in."""
    with open(first_path, "rb") as f:
        first = f.read()
    with open(second_path, "rb") as f:
        second = f.read()
    if len(first) != len(second):
        return f"sizes differ: {len(first)} and {len(second)} bytes"
    offset = next(i for i in range(len(first)) if first[i] != second[i])
    pe = pefile.PE(data=first, fast_load=True)
    part = "the headers"
    for section in pe.sections:
        start = section.PointerToRawData
        if start <= offset < start + section.SizeOfRawData:
            part = "section " + section.Name.rstrip(b"\0").decode()
    differing = sum(1 for a, b in zip(first, second) if a != b)
    return f"{differing} bytes differ, the first at offset {offset:#x}, in {part}"


class ReproducibleRelease(unittest.TestCase):
    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="reproducible-", dir=WORK)
        self.addCleanup(shutil.rmtree, self.work)

    def release_in_clone(self, name):
        clone = os.path.join(self.work, name)
        subprocess.run(["git", "clone", "--quiet", "--no-hardlinks", SOURCE, clone], check=True)
        result = subprocess.run(["tools/release.sh"], cwd=clone, env=release_environment(),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(result.returncode, 0, result.stdout)
        return os.path.join(clone, "dist")

    def test_two_clones_give_the_same_bytes(self):
        first = self.release_in_clone("first")
        second = self.release_in_clone("second-clone-somewhere-else")

        first_exe = os.path.join(first, "certinstall.exe")
        second_exe = os.path.join(second, "certinstall.exe")
        with open(first_exe, "rb") as f, open(second_exe, "rb") as g:
            same = f.read() == g.read()
        self.assertTrue(same, where_files_differ(first_exe, second_exe) if not same else "")

        with open(os.path.join(first, "certinstall.exe.sha256")) as f, \
                open(os.path.join(second, "certinstall.exe.sha256")) as g:
            self.assertEqual(f.read(), g.read())
        # The SHA-256 file is of the file beside it, in the form sha256sum checks.
        check = subprocess.run(["sha256sum", "--check", "--strict", "certinstall.exe.sha256"], cwd=first,
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
