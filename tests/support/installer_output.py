"""What the installer writes and where each certificate goes, for the end-to-end
tests of both builds. Texts are given with LF line ends; `on_windows` gives the
bytes that reach a Windows handle, where the streams are in text mode and every
line ends in CR LF."""

PARSED = "Poprawnie utworzono kontekst certyfikatu\n"
UNKNOWN = "DistributionType::fromString(): Nieznana wartość dystrybucji\n"
ARGUMENT_COUNT = "Niepoprawna liczba argumentów dla programu instalującego certyfikaty.\n"

# Where each certificate belongs, in the order of installation.
DISTRIBUTIONS = {
    "prod": [(101, "CA"), (102, "CA"), (103, "CA"), (104, "ROOT")],
    "test": [(105, "CA"), (106, "CA"), (107, "ROOT"), (108, "CA")],
}


def progress(certificate_id):
    return f"Wczytuję certyfikat z zasobów, ID: {certificate_id}...\n"


def on_windows(text):
    return text.replace("\n", "\r\n").encode()
