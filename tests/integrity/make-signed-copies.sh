#!/usr/bin/env bash
# Makes the files the signature tests check: an unsigned copy of a program, a copy signed
# with a throw-away code-signing certificate made here, and a signed copy with one byte
# changed after signing.
#   make-signed-copies.sh <program.exe> <output directory>
set -euo pipefail
program=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cd "$out"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
  -keyout signer.key -out signer.crt -subj "/CN=Integrity test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null

cp "$program" unsigned.exe
osslsigncode sign -certs signer.crt -key signer.key -h sha256 -n "Integrity test" \
  -in unsigned.exe -out signed.exe >/dev/null

# One byte of the DOS stub text, which the signature covers.
cp signed.exe tampered.exe
python3 - tampered.exe <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x4E)
    byte = f.read(1)[0]
    f.seek(0x4E)
    f.write(bytes([byte ^ 0xFF]))
PY
cmp -s signed.exe tampered.exe && { echo "tampered copy equals the signed one" >&2; exit 1; }
osslsigncode verify -CAfile signer.crt -in signed.exe >/dev/null
echo "signed copies ready in $out"
