#!/usr/bin/env bash
# Makes a throw-away PKI for the https scenarios in DIR, with the openssl
# command, at test time (nothing of it is committed):
#   ca.pem                 the test CA (trusted inside the run only)
#   ca-bundle.crt          the host's CA bundle plus the test CA, to bind-mount
#                          over /etc/ssl/certs/ca-certificates.crt in the run's
#                          mount namespace
#   localhost.{pem,key}    a server certificate for localhost from the test CA
#   wrong-name.{pem,key}   the test CA's certificate for another host name
#   untrusted.{pem,key}    a localhost certificate from a CA nobody trusts
#
#   make-test-pki.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"

ca() {  # name subject
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

server() {  # name host ca
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$2" \
    -keyout "$1.key" -out "$1.csr" 2>/dev/null
  printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}

ca ca "RUVO test CA"
ca other-ca "RUVO untrusted test CA"
server localhost localhost ca
server wrong-name updates.example.invalid ca
server untrusted localhost other-ca
cat /etc/ssl/certs/ca-certificates.crt ca.pem >ca-bundle.crt 2>/dev/null || cp ca.pem ca-bundle.crt
chmod 644 ./*.pem ./*.key ca-bundle.crt
