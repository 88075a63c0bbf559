#!/bin/bash
# Signs Windows programs in place with Authenticode (SHA-256) using
# osslsigncode and the code-signing certificate the environment names:
#   KESTRUN_SIGN_PFX            the certificate and its key, a PKCS#12 (.pfx) file
#   KESTRUN_SIGN_PASSWORD       the PFX file's password
#   KESTRUN_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so the
#                               signature stays valid after the certificate expires
# Usage: sign.sh <program.exe>...
set -euo pipefail
: "${KESTRUN_SIGN_PFX:?names no certificate (PFX file)}"
: "${KESTRUN_SIGN_PASSWORD?is not set}"
[ -f "$KESTRUN_SIGN_PFX" ] || { echo "sign.sh: no such file: $KESTRUN_SIGN_PFX" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a private file, not the command line that any
# user of the machine can read.
printf '%s' "$KESTRUN_SIGN_PASSWORD" >"$work/password"
chmod 600 "$work/password"
timestamp=()
[ -n "${KESTRUN_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$KESTRUN_SIGN_TIMESTAMP_URL")
for program in "$@"; do
  osslsigncode sign -pkcs12 "$KESTRUN_SIGN_PFX" -readpass "$work/password" -h sha256 \
    -n Kestrun "${timestamp[@]}" -in "$program" -out "$work/signed.exe" >/dev/null
  mv -f "$work/signed.exe" "$program"
  echo "signed $program"
done
