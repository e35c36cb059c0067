#!/bin/sh
# Regenerates the committed TLS fixtures of the local test server, beside this script: a test
# authority (ca), a certificate it signs for 127.0.0.1 (server) and a self-signed one (untrusted).
set -eu
cd "$(dirname "$0")"
certificate() { # name subject options...
    name=$1 subject=$2
    shift 2
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 36500 -subj "$subject" \
        -keyout "$name.key" -out "$name.pem" "$@"
}
ip=subjectAltName=IP:127.0.0.1,DNS:localhost
certificate ca "/CN=Corvantis Test Authority" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign
certificate server /CN=127.0.0.1 -CA ca.pem -CAkey ca.key -addext "$ip" \
    -addext basicConstraints=critical,CA:FALSE -addext extendedKeyUsage=serverAuth \
    -addext keyUsage=critical,digitalSignature,keyEncipherment
certificate untrusted /CN=127.0.0.1 -addext "$ip"
