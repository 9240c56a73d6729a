#!/usr/bin/env bash
# Makes a fresh set of test certificates in the folder it is given, for the
# private Dovecot, the tests' scripted TLS servers, the benchmark and the demo.
# Keys are made anew on every run and never leave the folder.
#
#   ca.pem ca.der              the test CA (the one accounts name in CAFile)
#   server.*                   for 127.0.0.1 and localhost, signed by the test CA
#   other-name.*               for mail.example.com only, signed by the test CA
#   expired.*                  for 127.0.0.1 and localhost, signed by the test CA, valid in 2020 only
#   untrusted.*                for 127.0.0.1 and localhost, signed by a CA no one trusts
#   untrusted-ca.pem           that CA
#   untrusted-chain.pem        untrusted.pem followed by untrusted-ca.pem (a chain to a root no one trusts)
#   constrained-ca.pem         an intermediate of the test CA, allowed DNS names under allowed.test only
# and, signed by the test CA unless said otherwise, certificates that must be
# refused for localhost or 127.0.0.1 although a careless check takes them:
#   nul-name.*                 common name "localhost<NUL>.evil.test", no subjectAltName
#   fullwidth-name.*           common name "localhost" in full-width letters, no subjectAltName
#   constrained.*              common name localhost, no subjectAltName, under constrained-ca
#                              (its .pem is the chain: the certificate, then constrained-ca.pem)
#   client-only.*              for 127.0.0.1 and localhost, extended key usage clientAuth only
#   code-and-mail.*            for 127.0.0.1 and localhost, codeSigning and emailProtection only
#   address-in-cn.*            common name 127.0.0.1, no subjectAltName
# and two that are refused for their make alone, pinned or not as said:
#   weak-key.*                 for 127.0.0.1 and localhost, an RSA key of 1024 bits (refused even pinned)
#   sha1.*                     for 127.0.0.1 and localhost, signed with SHA-1 (accepted when pinned)
# where * is .pem (certificate), .key (its private key, PEM, unencrypted) and
# .p12 (both, PKCS#12 with the password "tidewell"). The server
# certificates share one key but weak-key's: making RSA keys is most of the run's time.
# Each server certificate's SHA-256 fingerprint, as openssl shows it
# (AB:CD:...), is in NAME.sha256, for the tests that pin it.
set -euo pipefail

[ $# -eq 1 ] && [ -n "$1" ] || { echo "usage: certificates.sh DIR" >&2; exit 2; }
command -v openssl >/dev/null || { echo "certificates.sh: openssl is not installed (run scripts/setup.sh)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
mkdir -p "$dir"
cd "$dir"
umask 077
work=$(mktemp -d ./.making.XXXXXX)
trap 'rm -rf "$work"' EXIT

readonly local_names='IP:127.0.0.1,DNS:localhost'

new_key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"${2:-2048}" -out "$1" 2>/dev/null; }

# A self-signed CA: NAME SUBJECT
make_ca() {
  new_key "$work/$1.key"
  openssl req -x509 -new -key "$work/$1.key" -subj "$2" -days 3650 -sha256 \
    -addext 'basicConstraints=critical,CA:true' -addext 'keyUsage=critical,keyCertSign,cRLSign' \
    -out "$work/$1.pem"
}

# A server certificate: NAME SUBJECT SANS CA START END [EKU] (dates as
# YYYYMMDDHHMMSSZ; SANS "-" for no subjectAltName; EKU serverAuth unless given),
# signed with $digest (sha256 unless set) over $key (the shared server key unless set).
# `openssl ca` is the one signer that takes any validity dates, past ones too.
make_server() {
  local name=$1 subject=$2 sans=$3 ca=$4 start=$5 end=$6 eku=${7:-serverAuth} db=$work/$4-db
  mkdir -p "$db"
  [ -f "$db/serial" ] || { : > "$db/index.txt"; od -An -N8 -tx1 /dev/urandom | tr -d ' \n' > "$db/serial"; }
  cat > "$work/$name.cnf" <<EOF
[ca]
default_ca = signer
[signer]
database = $db/index.txt
new_certs_dir = $db
serial = $db/serial
default_md = ${digest:-sha256}
policy = anything
unique_subject = no
[anything]
commonName = supplied
[server]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = $eku
$([ "$sans" = - ] || echo "subjectAltName = $sans")
EOF
  [ -f "$work/server-key" ] || new_key "$work/server-key"
  cp "${key:-$work/server-key}" "$work/$name.key"
  openssl req -new -utf8 -key "$work/$name.key" -subj "$subject" -out "$work/$name.csr"
  openssl ca -batch -notext -utf8 -config "$work/$name.cnf" -extensions server \
    -cert "$work/$ca.pem" -keyfile "$work/$ca.key" -startdate "$start" -enddate "$end" \
    -in "$work/$name.csr" -out "$work/$name.pem" 2>/dev/null
  openssl pkcs12 -export -in "$work/$name.pem" -inkey "$work/$name.key" -name "$name" \
    -passout pass:tidewell -out "$work/$name.p12"
}

now() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
yesterday=$(now '1 day ago')
next_year=$(now '1 year')

make_ca ca '/O=Tidewell tests/CN=Tidewell test CA'
make_ca untrusted-ca '/O=Nobody/CN=Untrusted test CA'
make_server server '/O=Tidewell tests/CN=localhost' "$local_names" ca "$yesterday" "$next_year"
make_server other-name '/O=Tidewell tests/CN=mail.example.com' 'DNS:mail.example.com' ca "$yesterday" "$next_year"
make_server expired '/O=Tidewell tests/CN=Expired test server' "$local_names" ca 20200101000000Z 20201231000000Z
make_server untrusted '/O=Nobody/CN=Untrusted test server' "$local_names" untrusted-ca "$yesterday" "$next_year"
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"

# An intermediate that may only name hosts under allowed.test.
new_key "$work/constrained-ca.key"
openssl req -new -key "$work/constrained-ca.key" -subj '/O=Tidewell tests/CN=Constrained test CA' \
  -out "$work/constrained-ca.csr"
openssl x509 -req -in "$work/constrained-ca.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -days 3650 -sha256 -out "$work/constrained-ca.pem" -extfile <(printf '%s\n' \
  'basicConstraints=critical,CA:true' 'keyUsage=critical,keyCertSign,cRLSign' \
  'nameConstraints=critical,permitted;DNS:allowed.test') 2>/dev/null

# The NUL cannot be written on a command line: the name is made with an X in
# its place, which is then turned into a NUL and the certificate signed again.
make_server nul-name '/O=Tidewell tests/CN=localhostX.evil.test' - ca "$yesterday" "$next_year"
python3 "$here/../tests/support/resign_certificate.py" "$work/nul-name.pem" "$work/ca.key" \
  localhostX.evil.test 'localhost\0.evil.test'
openssl pkcs12 -export -in "$work/nul-name.pem" -inkey "$work/nul-name.key" -passout pass:tidewell \
  -out "$work/nul-name.p12"
make_server fullwidth-name "/O=Tidewell tests/CN=$(printf '\uff4c\uff4f\uff43\uff41\uff4c\uff48\uff4f\uff53\uff54')" - \
  ca "$yesterday" "$next_year"
make_server constrained '/O=Tidewell tests/CN=localhost' - constrained-ca "$yesterday" "$next_year"
cat "$work/constrained-ca.pem" >> "$work/constrained.pem"
make_server client-only '/O=Tidewell tests/CN=Client only' "$local_names" ca "$yesterday" "$next_year" clientAuth
make_server code-and-mail '/O=Tidewell tests/CN=Code and mail' "$local_names" ca "$yesterday" "$next_year" \
  codeSigning,emailProtection
make_server address-in-cn '/O=Tidewell tests/CN=127.0.0.1' - ca "$yesterday" "$next_year"
new_key "$work/weak-key-key" 1024
key=$work/weak-key-key make_server weak-key '/O=Tidewell tests/CN=Weak key test server' "$local_names" ca \
  "$yesterday" "$next_year"
digest=sha1 make_server sha1 '/O=Tidewell tests/CN=SHA-1 test server' "$local_names" ca "$yesterday" "$next_year"
cat "$work/untrusted.pem" "$work/untrusted-ca.pem" > "$work/untrusted-chain.pem"

servers="server other-name expired untrusted nul-name fullwidth-name constrained client-only code-and-mail address-in-cn
  weak-key sha1"
for name in $servers; do
  openssl x509 -in "$work/$name.pem" -noout -fingerprint -sha256 | sed 's/^[^=]*=//' > "$work/$name.sha256"
done

# Certificates are public; keys stay readable by their owner only. The CAs'
# keys are not kept: nothing is signed after this run.
chmod 0644 "$work"/*.pem "$work"/*.der "$work"/*.sha256
for name in ca.pem ca.der untrusted-ca.pem untrusted-chain.pem \
  server.{pem,key,p12} other-name.{pem,key,p12} expired.{pem,key,p12} untrusted.{pem,key,p12} constrained-ca.pem \
  {nul-name,fullwidth-name,constrained,client-only,code-and-mail,address-in-cn,weak-key,sha1}.{pem,key,p12} \
  $(printf '%s.sha256 ' $servers); do
  mv -f "$work/$name" "./$name"
done
