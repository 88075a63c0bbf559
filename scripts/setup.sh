#!/bin/bash
# Installs, as root on Debian, whatever the build and the tests need and the
# machine lacks: the MinGW-w64 cross compiler, Wine, CMake, GoogleTest's
# sources, and for releases and their tests git, OpenSSL and osslsigncode.
# Does nothing when all is there.
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest
  locales git openssl osslsigncode)
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The end-to-end tests run Wine in a Russian locale; Wine needs the Unix
# locale to map file names outside ASCII.
if ! locale -a 2>/dev/null | grep -qx 'ru_RU.utf8'; then
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
