#!/bin/sh
# Installs the Debian packages that building and testing need, when run as
# root and only those that are missing. Anyone else is told what is missing.
set -eu

packages="cmake make g++ libssl-dev googletest locales python3 python3-cryptography python3-pefile
  g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 osslsigncode"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "Missing Debian packages (install them as root, or run make as root):$missing" >&2
  exit 0
fi

echo "Installing:$missing"
case "$missing" in
  *:i386*) dpkg --add-architecture i386 ;;
esac
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
