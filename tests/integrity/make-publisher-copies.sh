#!/usr/bin/env bash
# Makes the programs the publisher tests hand over to, each signed by several throw-away
# publishers made here:
#   publisher  self-signed "Norlo test publisher"
#   other      self-signed "Other test publisher"
#   impostor   self-signed with the publisher's name but a key of its own
#   issued1    "Norlo issued publisher", issued by the test authority "Norlo test authority"
#   issued2    the same name renewed by the same authority (new key, new serial number)
#   rogue      the same name issued by another authority that took the authority's name
#   forged     rogue's certificate, carrying the real authority's certificate as its issuer
#   expired    "Norlo expired publisher" of a dated authority, valid only in early 2020
#   stamped    the same expired certificate with an RFC 3161 timestamp of January 2020, from a
#              time-stamping certificate of that authority
# plus an unsigned copy and a publisher-signed copy with one byte changed after signing.
#   make-publisher-copies.sh <output directory> <name>=<program.exe> ...
# writes <name>.<signer>.exe, <name>.unsigned.exe and <name>.tampered.exe.
set -euo pipefail
out=$1
shift
rm -rf "$out"
mkdir -p "$out/certs"
certs=$out/certs

usage="-addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning"
self_signed() {  # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -keyout "$certs/$1.key" -out "$certs/$1.crt" \
    -subj "/CN=$2" $usage 2>/dev/null
  cp "$certs/$1.crt" "$certs/$1.chain"
}
authority() {  # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -keyout "$certs/$1.key" -out "$certs/$1.crt" \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
}
issued() {  # name subject authority serial
  openssl req -new -newkey rsa:2048 -nodes -keyout "$certs/$1.key" -out "$certs/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$certs/$1.ext"
  openssl x509 -req -in "$certs/$1.csr" -CA "$certs/$3.crt" -CAkey "$certs/$3.key" -set_serial "$4" -days 2 \
    -sha256 -extfile "$certs/$1.ext" -out "$certs/$1.crt" 2>/dev/null
  cat "$certs/$1.crt" "$certs/$3.crt" > "$certs/$1.chain"
}

self_signed publisher "Norlo test publisher"
self_signed other "Other test publisher"
self_signed impostor "Norlo test publisher"
authority authority "Norlo test authority"
authority rogueauthority "Norlo test authority"
issued issued1 "Norlo issued publisher" authority 4097
issued issued2 "Norlo issued publisher" authority 4098
issued rogue "Norlo issued publisher" rogueauthority 4099
cp "$certs/rogue.key" "$certs/forged.key"
cat "$certs/rogue.crt" "$certs/authority.crt" > "$certs/forged.chain"

# Certificates of chosen dates need openssl's small authority.
printf '%s\n' '[ca]' 'default_ca = dated' '[dated]' "database = $certs/dated.index" "new_certs_dir = $certs" \
  "serial = $certs/dated.serial" 'default_md = sha256' 'policy = anything' 'unique_subject = no' \
  '[anything]' 'commonName = supplied' > "$certs/dated.cnf"
: > "$certs/dated.index"
echo 3000 > "$certs/dated.serial"
dated() {  # name subject issuer(- for itself) start end extensions
  openssl req -new -newkey rsa:2048 -nodes -keyout "$certs/$1.key" -out "$certs/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf "$6" > "$certs/$1.ext"
  local issuer=(-cert "$certs/$3.crt" -keyfile "$certs/$3.key")
  [ "$3" = - ] && issuer=(-selfsign -keyfile "$certs/$1.key")
  openssl ca -batch -config "$certs/dated.cnf" "${issuer[@]}" -in "$certs/$1.csr" -startdate "$4" -enddate "$5" \
    -extfile "$certs/$1.ext" -out "$certs/$1.crt" -notext 2>/dev/null >/dev/null
}
dated datedauthority "Norlo dated authority" - 20190101000000Z 20391231000000Z \
  'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n'
dated timestamping "Norlo test time-stamping" datedauthority 20190101000000Z 20391231000000Z \
  'keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
dated expired "Norlo expired publisher" datedauthority 20200101000000Z 20200301000000Z \
  'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
cat "$certs/expired.crt" "$certs/datedauthority.crt" > "$certs/expired.chain"
cat "$certs/timestamping.crt" "$certs/datedauthority.crt" > "$certs/timestamping.chain"

signers="publisher other impostor issued1 issued2 rogue forged expired"
for pair in "$@"; do
  name=${pair%%=*}
  program=${pair#*=}
  cp "$program" "$out/$name.unsigned.exe"
  for signer in $signers; do
    osslsigncode sign -certs "$certs/$signer.chain" -key "$certs/$signer.key" -h sha256 -n "Publisher test" \
      -in "$program" -out "$out/$name.$signer.exe" >/dev/null
  done
  # Timestamped on 26 January 2020, while the certificate was valid.
  osslsigncode sign -certs "$certs/expired.chain" -key "$certs/expired.key" -h sha256 -n "Publisher test" \
    -TSA-certs "$certs/timestamping.chain" -TSA-key "$certs/timestamping.key" -TSA-time 1580000000 \
    -in "$program" -out "$out/$name.stamped.exe" >/dev/null
  # One byte of the DOS stub text, which the signature covers.
  cp "$out/$name.publisher.exe" "$out/$name.tampered.exe"
  python3 - "$out/$name.tampered.exe" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x4E)
    byte = f.read(1)[0]
    f.seek(0x4E)
    f.write(bytes([byte ^ 0xFF]))
PY
done
echo "publisher copies ready in $out"
