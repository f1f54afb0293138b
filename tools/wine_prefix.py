#!/usr/bin/python3
"""Throwaway Wine prefixes for running the Windows build on Linux.

  wine_prefix.py create PREFIX               a new prefix (about 15 s)
  wine_prefix.py copy TEMPLATE PREFIX        a fresh prefix from an initialised one
  wine_prefix.py run [--from TEMPLATE] PREFIX PROGRAM [ARG...]
                                             run PROGRAM there (in a fresh copy
                                             of TEMPLATE); its exit status
  wine_prefix.py stores PREFIX               the certificates in the current
                                             user's ROOT and CA stores

Every command replaces PREFIX when it makes one, never touches ~/.wine, keeps
Wine quiet (WINEDEBUG=-all) and waits for the prefix's wineserver to exit, so
that the registry files are on disk when it returns. --wine names the wine
program (default: wine on PATH).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

# Files that Wine installs into a prefix and never writes afterwards: a copy
# of a prefix shares them with its template instead of duplicating ~600 MB.
# Everything else (registry, .ini files, user folders) is copied.
SHARED_SUFFIXES = (".dll", ".exe", ".nls", ".sys", ".drv", ".vxd", ".ocx", ".cpl", ".acm", ".tlb", ".ds")

STORES = ("ROOT", "CA")


def wine_environment(prefix):
    env = dict(os.environ, WINEPREFIX=os.path.abspath(prefix), WINEDEBUG="-all", WINEARCH="win32",
               # No Mono or Gecko installers: the program needs neither.
               WINEDLLOVERRIDES="mscoree,mshtml=")
    # No windows on a developer's desktop.
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def wineserver_for(wine):
    beside = os.path.join(os.path.dirname(shutil.which(wine) or wine), "wineserver")
    return beside if os.path.exists(beside) else "wineserver"


def wait_for_wineserver(wine, prefix):
    subprocess.run([wineserver_for(wine), "-w"], env=wine_environment(prefix), check=True)


def create(wine, prefix):
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)  # Wine makes only the last folder
    boot = subprocess.run([wine, "wineboot", "-i"], env=wine_environment(prefix),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if boot.returncode != 0:
        sys.stderr.write(boot.stdout.decode(errors="replace"))
        raise SystemExit(f"wineboot could not initialise {prefix} (exit status {boot.returncode})")
    wait_for_wineserver(wine, prefix)


def copy(template, prefix):
    def link_or_copy(source, target):
        if source.lower().endswith(SHARED_SUFFIXES):
            os.link(source, target)
        else:
            shutil.copy2(source, target)

    if not os.path.isfile(os.path.join(template, "system.reg")):
        raise SystemExit(f"{template} is not an initialised Wine prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


def run(wine, prefix, program, arguments, **subprocess_options):
    """Runs PROGRAM under Wine in PREFIX; returns the CompletedProcess."""
    result = subprocess.run([wine, program, *arguments], env=wine_environment(prefix), **subprocess_options)
    wait_for_wineserver(wine, prefix)
    return result


# One key per certificate: [Software\\Microsoft\\SystemCertificates\\CA\\Certificates\\<SHA-1>]
_KEY = re.compile(r"^\[Software\\\\Microsoft\\\\SystemCertificates\\\\([^\\]+)\\\\Certificates\\\\([0-9A-Fa-f]{40})\]")
_BLOB = re.compile(r'^"Blob"=hex:(.*)')
_CERTIFICATE_PROPERTY = 32  # the encoded certificate among the blob's properties


def _certificate_from_blob(blob):
    """The DER certificate in a serialized store element: a list of
    (property ID, 1, length, bytes) records, little-endian."""
    offset = 0
    while offset + 12 <= len(blob):
        property_id, _, length = (int.from_bytes(blob[offset + i:offset + i + 4], "little") for i in (0, 4, 8))
        if property_id == _CERTIFICATE_PROPERTY:
            return blob[offset + 12:offset + 12 + length]
        offset += 12 + length
    return None


def stores(prefix):
    """{store: {SHA-1 thumbprint: DER bytes}} for the current user's ROOT and
    CA stores, read from the prefix's user.reg."""
    found = {store: {} for store in STORES}
    path = os.path.join(prefix, "user.reg")
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().replace("\\\n", "").splitlines()  # join continued hex lines
    key = None
    for line in lines:
        if line.startswith("["):
            match = _KEY.match(line)
            key = (match.group(1).upper(), match.group(2).upper()) if match and match.group(1).upper() in found else None
        elif key:
            blob = _BLOB.match(line)
            if blob:
                data = bytes(int(byte, 16) for byte in re.split(r"[,\s]+", blob.group(1).strip()) if byte)
                found[key[0]][key[1]] = _certificate_from_blob(data)
    return found


def print_stores(prefix):
    for store, certificates in stores(prefix).items():
        print(f"{store}:")
        for thumbprint in sorted(certificates):
            print(f"  {thumbprint}")
        if not certificates:
            print("  (none)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine", default="wine")
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("create").add_argument("prefix")
    copy_command = commands.add_parser("copy")
    copy_command.add_argument("template")
    copy_command.add_argument("prefix")
    run_command = commands.add_parser("run")
    run_command.add_argument("--from", dest="template")
    run_command.add_argument("prefix")
    run_command.add_argument("program")
    run_command.add_argument("arguments", nargs=argparse.REMAINDER)
    commands.add_parser("stores").add_argument("prefix")
    options = parser.parse_args()

    if options.command == "create":
        create(options.wine, options.prefix)
    elif options.command == "copy":
        copy(options.template, options.prefix)
    elif options.command == "run":
        if options.template:
            copy(options.template, options.prefix)
        return run(options.wine, options.prefix, options.program, options.arguments).returncode
    elif options.command == "stores":
        wait_for_wineserver(options.wine, options.prefix)
        print_stores(options.prefix)
    return 0


if __name__ == "__main__":
    sys.exit(main())
