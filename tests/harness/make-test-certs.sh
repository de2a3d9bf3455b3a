#!/usr/bin/env bash
# Makes the certificates of the test TLS server into DIR (below the build tree, never
# committed): a test certificate authority that the tests trust inside their Wine prefix
# only, and four server certificates, one per case:
#   valid      localhost and 127.0.0.1, issued by the test authority
#   expired    the same names, issued by the test authority, valid only in 2020
#   wronghost  issued by the test authority for another host name
#   untrusted  localhost and 127.0.0.1, self-signed (no authority anyone trusts)
# Each server's chain file holds its certificate and then the issuer's. A second run keeps
# what is there.
set -euo pipefail
dir=$1
[ -f "$dir/ready" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/ca/new"
cd "$dir"

ssl() { openssl "$@" 2>>openssl.log; }

ssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Norlo Test Authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout authority.key -out authority.pem
ssl x509 -in authority.pem -outform DER -out authority.cer

cat >ca/openssl.cnf <<EOF
[ ca ]
default_ca = test
[ test ]
dir = $dir/ca
database = \$dir/index.txt
new_certs_dir = \$dir/new
serial = \$dir/serial
certificate = $dir/authority.pem
private_key = $dir/authority.key
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[ anything ]
commonName = supplied
[ server ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
EOF
: >ca/index.txt
echo 1000 >ca/serial

# issue NAME SUBJECT_NAME ALT_NAMES [openssl ca date options...]
issue() {
  local name=$1 cn=$2 alt=$3
  shift 3
  ssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=$cn" -addext "subjectAltName=$alt" \
    -keyout "$name.key" -out "$name.csr"
  ssl ca -batch -config ca/openssl.cnf -extensions server -in "$name.csr" -out "$name.pem" "$@"
  cat "$name.pem" authority.pem >"$name.chain.pem"
}

issue valid localhost "DNS:localhost,IP:127.0.0.1" -days 3650
issue expired localhost "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200201000000Z
issue wronghost other-host.invalid "DNS:other-host.invalid" -days 3650
ssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -addext "extendedKeyUsage=serverAuth" \
  -keyout untrusted.key -out untrusted.pem
cp untrusted.pem untrusted.chain.pem
touch ready
