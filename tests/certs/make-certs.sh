#!/bin/sh
# Regenerates the TLS fixtures of the local test server. The files are committed, so this only
# runs when they have to change. Run from anywhere; writes next to this script.
#   ca.pem / ca.key          test certificate authority, trusted by the tests on demand
#   server.pem / server.key  certificate for 127.0.0.1 and localhost, signed by the test authority
#   untrusted.pem / untrusted.key  self-signed certificate for 127.0.0.1 that nothing trusts
set -eu
cd "$(dirname "$0")"
days=36500
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -subj "/CN=Corvantis Test Authority" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout ca.key -out ca.pem

openssl req -new -newkey rsa:2048 -nodes -sha256 \
    -subj "/CN=127.0.0.1" -keyout server.key -out "$work/server.csr"
cat > "$work/server.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT
openssl x509 -req -sha256 -days "$days" -in "$work/server.csr" -CA ca.pem -CAkey ca.key \
    -set_serial 0x$(openssl rand -hex 8) -extfile "$work/server.ext" -out server.pem

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
    -keyout untrusted.key -out untrusted.pem
