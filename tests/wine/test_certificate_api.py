#!/usr/bin/python3
"""certinstall.exe under Wine, against Wine's crypt32 and the current user's
real ROOT and CA stores, looked at through the certificate API by
list_stores.exe.

Every case runs in a fresh copy of one initialised prefix (the argument cases
share one, as none of them may touch a store), with WINEDEBUG=-all and
LC_ALL=C.UTF-8 unless the case is about the locale.

Usage: test_certificate_api.py --wine WINE --template PREFIX --work DIR
           --installer EXE --list-stores EXE --process-view EXE
           --certificates DIR [--broken-sets DIR] [unittest arguments...]
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import wine_prefix  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import installer_output  # noqa: E402

OPTIONS = None  # set by main()

STORES = ("ROOT", "CA")

# Every line reaches the handle as CR LF: the standard streams are in text mode.
PARSED = installer_output.on_windows(installer_output.PARSED)
UNKNOWN = installer_output.on_windows(installer_output.UNKNOWN)
ARGUMENT_COUNT = installer_output.on_windows(installer_output.ARGUMENT_COUNT)
DISTRIBUTIONS = installer_output.DISTRIBUTIONS
ALL_IDS = [i for certificates in DISTRIBUTIONS.values() for i, _ in certificates]


def progress(certificate_id):
    return installer_output.on_windows(installer_output.progress(certificate_id))


def parse_failure(code):
    return ("Nie udało się utworzyć kontekstu certyfikatu. Nie można zatem stwierdzić, czy certyfikat należy "
            "zainstalować w głównych, czy zaufanych certyfikatach urzędu.\r\n"
            f"Prawdopodobny kod błędu: {code}\r\n").encode()


def installed_output(distribution):
    return b"".join(progress(i) + PARSED for i, _ in DISTRIBUTIONS[distribution])


def thumbprint(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest().upper()


def development_thumbprint(certificate_id):
    return thumbprint(os.path.join(OPTIONS.certificates, f"{certificate_id}.der"))


def development_certificates():
    """{thumbprint: ID} of the development certificates."""
    return {development_thumbprint(i): str(i) for i in ALL_IDS}


def placement(stores, certificates):
    """{name: sorted stores that hold it, once per copy} for `certificates`,
    given as {thumbprint: name}."""
    found = {name: [] for name in certificates.values()}
    for store, listed in stores.items():
        for t, _ in listed or []:
            if t in certificates:
                found[certificates[t]].append(store)
    return {name: sorted(s) for name, s in found.items()}


def expected_placement(*distributions):
    """Where the development certificates are after runs of `distributions`:
    each in its own store, once, and the others nowhere."""
    expected = {str(i): [] for i in ALL_IDS}
    for distribution in distributions:
        for certificate_id, store in DISTRIBUTIONS[distribution]:
            expected[str(certificate_id)] = [store]
    return expected


class Prefix:
    """A fresh copy of the template prefix, and programs run in it. Its
    wineserver stays up between runs and is ended with the case."""

    def __init__(self, test, name, locale="C.UTF-8", locale_path=None):
        self.test = test
        self.path = os.path.join(OPTIONS.work, name)
        wine_prefix.copy(OPTIONS.template, self.path)
        self.env = wine_prefix.wine_environment(self.path)
        for variable in [v for v in self.env if v.startswith("LC_") or v in ("LANG", "LANGUAGE", "LOCPATH")]:
            del self.env[variable]
        self.env.update(LANG=locale, LC_ALL=locale)
        if locale_path:
            self.env["LOCPATH"] = locale_path
        test.addCleanup(self.remove)
        # Wine's server, and the services that the first program starts, keep
        # the standard handles they were started with: started here, they
        # hold no pipe of a later run open, and the server outlives each run
        # (by 30 s at most if this process dies) instead of starting anew.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([wine_prefix.wineserver_for(OPTIONS.wine), "-p30"], env=self.env, check=True, **quiet)
        subprocess.run([OPTIONS.wine, OPTIONS.process_view], env=self.env, check=True, **quiet)

    def remove(self):
        subprocess.run([wine_prefix.wineserver_for(OPTIONS.wine), "-k"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, program, *arguments, **options):
        """Runs a Windows program; Wine gets the UTF-8 bytes of `arguments`."""
        command = [OPTIONS.wine, program] + [a.encode("utf-8") for a in arguments]
        options.setdefault("stdout", subprocess.PIPE)
        options.setdefault("stderr", subprocess.PIPE)
        return subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, timeout=120, **options)

    def install(self, *arguments, installer=None, **options):
        return self.run(installer or OPTIONS.installer, *arguments, **options)

    def stores(self):
        """{store: [(thumbprint, friendly name), ...]}, None for a store that
        does not exist."""
        result = self.run(OPTIONS.list_stores)
        self.test.assertEqual((result.returncode, result.stderr), (0, b""), "list_stores failed")
        stores = {store: [] for store in STORES}
        for line in result.stdout.decode("utf-8").splitlines():
            fields = line.split("\t")
            if fields[1] == "absent":
                stores[fields[0]] = None
            else:
                stores[fields[0]].append((fields[1], fields[2]))
        return stores

    def set_friendly_name(self, store, certificate_thumbprint, name):
        result = self.run(OPTIONS.list_stores, "set-friendly-name", store, certificate_thumbprint, name)
        self.test.assertEqual((result.returncode, result.stderr), (0, b""), "set-friendly-name failed")

    def view(self, *argument):
        """What process_view.exe reports: {"locale": "0409", ..., "argument": b"..."}."""
        result = self.run(OPTIONS.process_view, *argument)
        self.test.assertEqual(result.returncode, 0, result.stderr)
        view = {}
        for line in result.stdout.decode("ascii").splitlines():
            key, _, value = line.partition(" ")
            view[key] = bytes.fromhex(value) if key == "argument" else value
        return view


class WineCase(unittest.TestCase):
    maxDiff = None

    def prefix(self, name="", **options):
        return Prefix(self, self.id().rsplit(".", 1)[-1] + name, **options)

    def assertBytes(self, actual, expected):
        self.assertEqual(actual, expected, f"\n   got {actual!r}\nexpected {expected!r}")

    def assertRun(self, result, stdout, stderr, status):
        self.assertBytes(result.stdout, stdout)
        self.assertBytes(result.stderr, stderr)
        self.assertEqual(result.returncode, status)


class Distributions(WineCase):
    def test_each_distribution_installs_exactly_its_certificates_into_their_stores(self):
        for distribution in DISTRIBUTIONS:
            with self.subTest(distribution):
                prefix = self.prefix("-" + distribution)
                self.assertRun(prefix.install(distribution), installed_output(distribution), b"", 0)
                self.assertEqual(placement(prefix.stores(), development_certificates()),
                                 expected_placement(distribution))

    # Wine cannot tell CERT_STORE_ADD_USE_EXISTING here from REPLACE_EXISTING
    # or ALWAYS: its registry store keeps one key per SHA-1 and does not write
    # a replaced certificate back. The unit tests pin the disposition.
    def test_second_run_adds_nothing_and_keeps_the_stored_copies(self):
        prefix = self.prefix()
        self.assertRun(prefix.install("prod"), installed_output("prod"), b"", 0)
        marked = {}
        for certificate_id, store in DISTRIBUTIONS["prod"]:
            certificate_thumbprint = development_thumbprint(certificate_id)
            marked[certificate_thumbprint] = f"kept copy {certificate_id}"
            prefix.set_friendly_name(store, certificate_thumbprint, marked[certificate_thumbprint])
        before = prefix.stores()
        names = {t: name for certificates in before.values() for t, name in certificates if t in marked}
        self.assertEqual(names, marked)

        self.assertRun(prefix.install("prod"), installed_output("prod"), b"", 0)
        after = prefix.stores()
        self.assertEqual({s: sorted(c) for s, c in after.items()}, {s: sorted(c) for s, c in before.items()})
        self.assertEqual(placement(after, development_certificates()), expected_placement("prod"))


class Arguments(WineCase):
    # (name, arguments, the message, the bytes that the narrow main() gets).
    # Wine turns the UTF-8 bytes of its own argument vector into Unicode and
    # then into the ANSI code page (1252 here) for a narrow main(): UTF-8
    # "pród" arrives as 70 72 F3 64. Bytes that are not UTF-8 do not survive
    # that (Wine 8 makes "?" followed by stray bytes), and under the plain C
    # locale Wine drops the top bit of every byte; so the texts here are UTF-8.
    # A character that the code page lacks gets a best fit: "ą" arrives as
    # "a", and the fullwidth "ｐｒｏｄ" as "prod", which installs.
    # Windows limits a command line to 32767 characters; Wine refuses to start
    # a longer one with status 1 and no message, so the long argument stays
    # below that.
    CASES = [
        ("no argument", [], ARGUMENT_COUNT, None),
        ("two arguments", ["prod", "test"], ARGUMENT_COUNT, None),
        ("capitals", ["PROD"], UNKNOWN, b"PROD"),
        ("capital initial", ["Prod"], UNKNOWN, b"Prod"),
        ("capital initial of test", ["Test"], UNKNOWN, b"Test"),
        ("trailing blank", ["prod "], UNKNOWN, b"prod "),
        ("leading blank", [" prod"], UNKNOWN, b" prod"),
        ("longer word", ["production"], UNKNOWN, b"production"),
        ("empty", [""], UNKNOWN, b""),
        ("byte 0xF3", ["pród"], UNKNOWN, b"pr\xf3d"),
        ("byte 0x80", ["€"], UNKNOWN, b"\x80"),
        ("byte 0xFF after the word", ["prodÿ"], UNKNOWN, b"prod\xff"),
        ("long argument", ["p" * 30000], UNKNOWN, b"p" * 30000),
    ]

    def test_a_wrong_argument_is_one_error_line_and_touches_no_store(self):
        prefix = self.prefix()
        untouched = {store: None for store in STORES}
        self.assertEqual(prefix.stores(), untouched)
        for name, arguments, message, received in self.CASES:
            with self.subTest(name):
                if received is not None:
                    self.assertEqual(prefix.view(*arguments)["argument"], received,
                                     "Wine did not pass the argument as expected")
                self.assertRun(prefix.install(*arguments), b"", message, 1)
                self.assertEqual(prefix.stores(), untouched)


class Locales(WineCase):
    # (locale, the Windows locale ID that Wine makes of it). The certificates
    # are stored under Polish (1045) only and must be found under any locale.
    CASES = [
        ("C", "0409"),
        ("C.UTF-8", "0409"),
        ("en_US.UTF-8", "0409"),
        ("de_DE.UTF-8", "0407"),
        ("pl_PL.UTF-8", "0415"),
    ]

    @classmethod
    def setUpClass(cls):
        # Wine takes the locale ID from LC_ALL alone, but its conversions
        # follow the C library's locale: one that the system lacks is made
        # under the work directory, where LOCPATH finds it.
        cls.locale_path = os.path.join(OPTIONS.work, "locales")
        os.makedirs(cls.locale_path, exist_ok=True)
        available = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
        cls.missing = {}
        cls.generated = set()
        for locale, _ in cls.CASES:
            if locale in ("C", "C.UTF-8") or locale.replace("UTF-8", "utf8") in available:
                continue
            target = os.path.join(cls.locale_path, locale)
            if not os.path.isdir(target):
                language, charset = locale.split(".")
                made = subprocess.run(["localedef", "-i", language, "-f", charset, target],
                                      capture_output=True, text=True)
                if made.returncode != 0:
                    shutil.rmtree(target, ignore_errors=True)
                    cls.missing[locale] = made.stderr.strip()
                    continue
            cls.generated.add(locale)

    def test_the_certificates_are_found_under_any_locale(self):
        for locale, windows_locale in self.CASES:
            with self.subTest(locale):
                if locale in self.missing:
                    self.skipTest(f"{locale} is not installed and localedef cannot make it: {self.missing[locale]}")
                prefix = self.prefix("-" + locale, locale=locale,
                                     locale_path=self.locale_path if locale in self.generated else None)
                view = prefix.view()
                self.assertEqual((view["locale"], view["ui-language"]), (windows_locale, windows_locale),
                                 "Wine did not take the locale")
                for distribution in DISTRIBUTIONS:
                    self.assertRun(prefix.install(distribution), installed_output(distribution), b"", 0)
                self.assertEqual(placement(prefix.stores(), development_certificates()),
                                 expected_placement(*DISTRIBUTIONS))


class BrokenSets(WineCase):
    """Executables built over certificate sets that break the program's rules
    (tests/wine/make_broken_sets.py)."""

    def broken(self, name):
        directory = os.path.join(OPTIONS.broken_sets, name)
        return os.path.join(directory, "build", "certinstall.exe"), os.path.join(directory, "certificates")

    def test_unparsable_certificates_are_reported_and_the_run_goes_on(self):
        installer, _ = self.broken("unparsable")
        prefix = self.prefix()
        # 101 is empty, 102 is the PEM text of a certificate: crypt32's codes
        # are CRYPT_E_ASN1_EOD and CRYPT_E_ASN1_BADTAG, written unsigned.
        self.assertRun(prefix.install("prod", installer=installer),
                       progress(101) + progress(102) + progress(103) + PARSED + progress(104) + PARSED,
                       parse_failure(2148086018) + parse_failure(2148086027), 1)
        expected = expected_placement()
        expected.update({"103": ["CA"], "104": ["ROOT"]})
        self.assertEqual(placement(prefix.stores(), development_certificates()), expected)

    def test_error_lines_keep_their_place_among_the_progress_lines(self):
        installer, _ = self.broken("unparsable")
        prefix = self.prefix()
        result = prefix.install("prod", installer=installer, stderr=subprocess.STDOUT)
        self.assertBytes(result.stdout,
                         progress(101) + parse_failure(2148086018) + progress(102) + parse_failure(2148086027)
                         + progress(103) + PARSED + progress(104) + PARSED)

    def test_intermediate_whose_names_differ_only_in_content_goes_to_ca(self):
        installer, certificates = self.broken("equal-name-lengths")
        prefix = self.prefix()
        self.assertRun(prefix.install("prod", installer=installer), installed_output("prod"), b"", 0)
        looked_for = development_certificates()
        looked_for[thumbprint(os.path.join(certificates, "103.der"))] = "103 with equal name lengths"
        expected = expected_placement("prod")
        expected.update({"103": [], "103 with equal name lengths": ["CA"]})
        self.assertEqual(placement(prefix.stores(), looked_for), expected)

    def test_missing_certificate_stops_the_run_and_keeps_the_ones_before_it(self):
        installer, _ = self.broken("missing-id")
        prefix = self.prefix()
        self.assertRun(prefix.install("prod", installer=installer),
                       progress(101) + PARSED + progress(102),
                       "Podczas próby instalacji o ID: 102 wystąpił błąd: "
                       "loadCertificateFromResources(): hResource == NULL\r\n".encode(), 1)
        expected = expected_placement()
        expected["101"] = ["CA"]
        self.assertEqual(placement(prefix.stores(), development_certificates()), expected)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for option in ("--wine", "--template", "--work", "--installer", "--list-stores", "--process-view",
                   "--certificates"):
        parser.add_argument(option, required=True)
    parser.add_argument("--broken-sets")
    OPTIONS, rest = parser.parse_known_args()
    os.makedirs(OPTIONS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
