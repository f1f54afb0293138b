#!/bin/bash
# Builds the release executable, dist/certinstall.exe, signs it when a signing
# key is given, checks the signature, and writes the file's SHA-256 beside it
# (dist/certinstall.exe.sha256, as `sha256sum -c` reads it).
#
#   tools/release.sh            (or: make release [SIGN_...=...])
#
# The certificates, passed to every configure so that no earlier choice
# lingers in the build directory's cache:
#   CERTIFICATE_DIR          the set to embed; default the development set,
#                            resources/certificates
#   CERTIFICATE_CHECK        ON (default): the build refuses a set that breaks
#                            one of the program's rules; OFF embeds it as it is
#
# Signing, all optional; once any SIGN_ variable is set the release is signed
# or fails, it never falls back to an unsigned file:
#   SIGN_CERT, SIGN_KEY      PEM code-signing certificate (with its chain, if
#                            any) and its private key, or
#   SIGN_PKCS12              the same in one PKCS#12 file
#   SIGN_PASSWORD            the password of SIGN_PKCS12 or of SIGN_KEY
#   SIGN_CA_FILE             the CAs trusted when checking the signature;
#                            default the signing certificate itself, which is
#                            right for a self-made one
#   SIGN_TIMESTAMP_URL       an RFC 3161 time-stamp server; by default there
#                            is none and the release makes no network call
#   SIGN_TIMESTAMP_CA_FILE   the CAs trusted for the time stamp; default the
#                            system's bundle
# Where:
#   RELEASE_BUILD_DIR        default build/windows-release
#   DIST_DIR                 default dist
# Relative paths in these variables are taken from the directory the script
# is run in (for make, the repository's top); the defaults are in the
# repository.
set -euo pipefail

for name in CERTIFICATE_DIR SIGN_CERT SIGN_KEY SIGN_PKCS12 SIGN_CA_FILE SIGN_TIMESTAMP_CA_FILE RELEASE_BUILD_DIR DIST_DIR; do
  value="${!name:-}"
  if [ -n "$value" ] && [ "${value#/}" = "$value" ]; then
    printf -v "$name" '%s' "$PWD/$value"
  fi
done

top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"

build_dir="${RELEASE_BUILD_DIR:-build/windows-release}"
dist_dir="${DIST_DIR:-dist}"
certificate_dir="${CERTIFICATE_DIR:-$top/resources/certificates}"
certificate_check="${CERTIFICATE_CHECK:-ON}"
exe="$dist_dir/certinstall.exe"

say() { echo "release: $*"; }
fail() { echo "release: error: $*" >&2; exit 1; }

# Decide before building, so that a half-given key fails at once.
signing=""
if [ -n "${SIGN_PKCS12:-}" ]; then
  [ -z "${SIGN_CERT:-}${SIGN_KEY:-}" ] || fail "give SIGN_CERT and SIGN_KEY, or SIGN_PKCS12, not both"
  signing=pkcs12
elif [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ]; then
  [ -n "${SIGN_CERT:-}" ] || fail "SIGN_KEY is given without SIGN_CERT"
  [ -n "${SIGN_KEY:-}" ] || fail "SIGN_CERT is given without SIGN_KEY"
  signing=pem
elif [ -n "${SIGN_PASSWORD:-}${SIGN_CA_FILE:-}${SIGN_TIMESTAMP_URL:-}${SIGN_TIMESTAMP_CA_FILE:-}" ]; then
  fail "signing options are given but no key: set SIGN_CERT and SIGN_KEY, or SIGN_PKCS12"
fi
for file in "${SIGN_CERT:-}" "${SIGN_KEY:-}" "${SIGN_PKCS12:-}" "${SIGN_CA_FILE:-}" "${SIGN_TIMESTAMP_CA_FILE:-}"; do
  [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file"
done

# The same commit gives the same bytes: nothing from the clock, the locale
# or the time zone gets in. The build paths are mapped away by the preset.
SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}"
export SOURCE_DATE_EPOCH LC_ALL=C TZ=UTC

mkdir -p "$dist_dir"
# A failed run leaves no file behind that could be mistaken for this release.
rm -f "$exe" "$exe.sha256"

say "building $build_dir/certinstall.exe"
say "embedding the certificates in $certificate_dir (CERTIFICATE_CHECK=$certificate_check)"
cmake --preset windows-release -B "$build_dir" \
  -DCERTIFICATE_DIR="$certificate_dir" -DCERTIFICATE_CHECK="$certificate_check" >/dev/null
cmake --build "$build_dir" --target certinstall -j "$(nproc)"
built="$build_dir/certinstall.exe"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [ -z "$signing" ]; then
  cp "$built" "$exe"
else
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed"
  sign=(osslsigncode sign -h sha256 -n certinstall -in "$built" -out "$work/signed.exe")
  if [ "$signing" = pkcs12 ]; then
    sign+=(-pkcs12 "$SIGN_PKCS12")
    ca_file="${SIGN_CA_FILE:-$work/signer.pem}"
    if [ -z "${SIGN_CA_FILE:-}" ]; then
      # The signing certificate, out of the PKCS#12 file.
      export SIGN_PASSWORD="${SIGN_PASSWORD:-}"
      openssl pkcs12 -in "$SIGN_PKCS12" -nokeys -clcerts -passin env:SIGN_PASSWORD -out "$ca_file" 2>/dev/null ||
        openssl pkcs12 -legacy -in "$SIGN_PKCS12" -nokeys -clcerts -passin env:SIGN_PASSWORD -out "$ca_file" ||
        fail "cannot read the certificate in $SIGN_PKCS12 (wrong SIGN_PASSWORD?)"
    fi
  else
    sign+=(-certs "$SIGN_CERT" -key "$SIGN_KEY")
    ca_file="${SIGN_CA_FILE:-$SIGN_CERT}"
  fi
  if [ -n "${SIGN_PASSWORD:-}" ]; then
    # From a file, not the command line, where other users could read it.
    printf '%s' "$SIGN_PASSWORD" >"$work/password"
    sign+=(-readpass "$work/password")
  fi
  verify=(osslsigncode verify -in "$work/signed.exe" -CAfile "$ca_file" -ignore-cdp)
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    sign+=(-ts "$SIGN_TIMESTAMP_URL")
    [ -z "${SIGN_TIMESTAMP_CA_FILE:-}" ] || verify+=(-TSA-CAfile "$SIGN_TIMESTAMP_CA_FILE")
  fi

  "${sign[@]}" >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; fail "signing failed"; }
  # -ignore-cdp: the check itself stays offline; revocation is not looked up.
  "${verify[@]}" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "the signed file does not verify against $ca_file"; }
  # A time stamp that does not verify only makes osslsigncode fall back to
  # the current time, so it is checked here.
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ] && ! grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log"; then
    cat "$work/verify.log" >&2
    fail "the time stamp from $SIGN_TIMESTAMP_URL does not verify${SIGN_TIMESTAMP_CA_FILE:+ against $SIGN_TIMESTAMP_CA_FILE}"
  fi
  mv "$work/signed.exe" "$exe"
  say "signed $exe; the signature verifies against $ca_file"
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    say "time-stamped by $SIGN_TIMESTAMP_URL"
  fi
fi

(cd "$dist_dir" && sha256sum certinstall.exe >certinstall.exe.sha256)
say "$(cat "$dist_dir/certinstall.exe.sha256")"
if [ -z "$signing" ]; then
  echo "release: WARNING: $exe is UNSIGNED: no signing key was given" \
       "(SIGN_CERT and SIGN_KEY, or SIGN_PKCS12)" >&2
fi
