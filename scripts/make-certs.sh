#!/usr/bin/env bash
# Makes the certificates of a TLS station (IEC 62351-3/-4) in DIR, for the
# tests and the demo; nothing of it is ever committed. EC P-256 keys.
#   bash scripts/make-certs.sh DIR
# DIR then holds (NAME.pem certificate, NAME.key private key):
#   ca            the station's CA (trusted by tarnmon and iedsim)
#   device        the IEDs' certificate, issued by ca (IP 127.0.0.1, 127.0.0.2)
#   client        tarnmon's certificate, issued by ca
#   expired       a device certificate of ca, valid 2020-01-01..2021-01-01 only
#   other-ca      another CA
#   other         a device certificate issued by other-ca
#   device.sha256 the SHA-256 fingerprint of device.pem (AB:CD:...)
set -euo pipefail
dir=${1:?usage: make-certs.sh DIR}
mkdir -p "$dir"
cd "$dir"
umask 077

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }

make_ca() {   # NAME CN
  key "$1"
  openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 3650 -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

extensions() {   # USAGE
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\nsubjectAltName=IP:127.0.0.1,IP:127.0.0.2\n' "$1"
}

make_leaf() {   # NAME CN CA USAGE
  key "$1"
  openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr" 2>/dev/null
  extensions "$4" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 825 -sha256 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}

make_ca ca "tarnmon test station CA"
make_leaf device "IED test device" ca serverAuth
make_leaf client "tarnmon station computer" ca clientAuth
make_ca other-ca "some other CA"
make_leaf other "IED of another CA" other-ca serverAuth

# A certificate whose validity ended long ago: OpenSSL 3.0's x509 cannot set
# dates in the past, its ca command can (-startdate/-enddate).
key expired
openssl req -new -key expired.key -subj "/CN=IED expired device" -out expired.csr 2>/dev/null
mkdir -p ca-db
: > ca-db/index.txt
echo 1000 > ca-db/serial
cat > ca-db/ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
extensions serverAuth > expired.ext
openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem -notext \
  -startdate 20200101000000Z -enddate 20210101000000Z -extfile expired.ext 2>/dev/null
rm -rf ca-db expired.csr expired.ext ca.srl other-ca.srl

openssl x509 -in device.pem -noout -fingerprint -sha256 | sed 's/.*=//' > device.sha256
chmod 644 ./*.pem device.sha256
