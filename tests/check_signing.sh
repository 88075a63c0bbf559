#!/bin/bash
# Signs copies of the programs with scripts/sign.sh and a throw-away
# self-signed code-signing certificate, then checks with osslsigncode that
# each signature is SHA-256 and verifies, that removing it gives back the
# unsigned image, and that one changed byte in a signed image fails.
# Usage: check_signing.sh <bin folder> <program.exe>...
set -euo pipefail
bin=$(cd "$1" && pwd)
shift
sign="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/sign.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Kestrun throw-away signer" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout pass:throw-away
mkdir unsigned signed
for program in "$@"; do
  cp "$bin/$program" unsigned/
  cp "$bin/$program" signed/
done
KESTRUN_SIGN_PFX=signer.pfx KESTRUN_SIGN_PASSWORD=throw-away "$sign" signed/*.exe
failed=0
for program in "$@"; do
  if ! report=$(osslsigncode verify -CAfile cert.pem -in "signed/$program" 2>&1); then
    echo "FAIL $program: the signed copy does not verify:"; echo "$report"; failed=1
  fi
  grep -q 'Message digest algorithm *: SHA256' <<<"$report" ||
    { echo "FAIL $program: not signed with SHA-256"; failed=1; }
  osslsigncode remove-signature -in "signed/$program" -out "stripped-$program" >/dev/null
  cmp -s "stripped-$program" "unsigned/$program" ||
    { echo "FAIL $program: without its signature it is not the unsigned image"; failed=1; }
done
# One byte of the first program's code section, changed after signing.
tampered="signed/$1"
offset=$((0x400 + 100))
byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
  dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
if osslsigncode verify -CAfile cert.pem -in "$tampered" >/dev/null 2>&1; then
  echo "FAIL $1: verifies with a byte of its image changed"; failed=1
fi
if [ $failed -ne 0 ]; then echo "signing checks failed"; exit 1; fi
echo "signing checks passed: $# programs signed and verified, a changed byte is detected"
