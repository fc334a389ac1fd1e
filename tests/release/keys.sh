#!/bin/sh
# Sourced by the release tests: makes throwaway keys in folder $keys with openssl (nothing here is ever committed).
# A three-level CA shaped like the public ones: root -> intermediate -> leaf certificates. The intermediate and the
# leaves carry a CRL distribution point and authority-information access (CA issuers, OCSP) on a loopback port
# where nothing listens, as on a build host without a route to the CA.
#   root.pem             root certificate (the one to trust, --ca)
#   int.pem              intermediate; chain.pem is signer.pem followed by int.pem
#   signer.pem/.key      code-signing certificate and RSA key, valid from now for 30 days; signer.p12 (the chain
#                        inside, modern encryption) and signer-legacy.p12 (-legacy) with password $password
#   ec.pem/.key          code-signing certificate with a P-256 key; ec-chain.pem with the intermediate
#   plain.pem/.key       a certificate of the same CA without the code-signing usage
#   short.pem/.key       a code-signing certificate valid for one day
#   old.pem/.key         a code-signing certificate that was valid from 20 to 10 days ago; old-chain.pem with the
#                        intermediate
#   future.pem/.key      a code-signing certificate valid only from 10 days on
#   signer-blank.p12     signer.p12 with the password $blank_password, which begins and ends with blanks; the file
#                        blank-password holds it
#   tsa.pem/.key         a time-stamping authority of the same CA; tsa-chain.pem with the intermediate
#   int.crl, root.crl    CRLs that revoke nothing; revoked.crl is the intermediate's CRL revoking signer.pem
password=pa55-w0rd
nowhere=http://127.0.0.1:9
mkdir -p "$keys"
# distribution NAME: the CRL distribution point and AIA of a certificate issued by NAME
distribution() {
  printf 'crlDistributionPoints=URI:%s/%s.crl\n' "$nowhere" "$1"
  printf 'authorityInfoAccess=caIssuers;URI:%s/%s.crt,OCSP;URI:%s/ocsp\n' "$nowhere" "$1" "$nowhere"
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/root.key" -out "$keys/root.pem" -days 30 \
  -subj "/CN=Quillmart Test Root" -addext basicConstraints=critical,CA:true \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
# issue NAME ISSUER DAYS EXTENSIONS [KEY_OPTIONS...]
issue() {
  name=$1 issuer=$2 days=$3 extensions=$4; shift 4
  [ $# -gt 0 ] || set -- rsa:2048
  openssl req -new -newkey "$@" -nodes -keyout "$keys/$name.key" -out "$keys/$name.csr" \
    -subj "/O=Farrowind/CN=$name" 2>/dev/null
  { printf '%s\n' "$extensions"; distribution "$issuer"; } >"$keys/$name.ext"
  openssl x509 -req -in "$keys/$name.csr" -CA "$keys/$issuer.pem" -CAkey "$keys/$issuer.key" -CAcreateserial \
    -out "$keys/$name.pem" -days "$days" -extfile "$keys/$name.ext" 2>/dev/null
}
leaf='basicConstraints=CA:false
keyUsage=critical,digitalSignature'
issue int root 30 'basicConstraints=critical,CA:true,pathlen:0
keyUsage=critical,keyCertSign,cRLSign'
issue signer int 30 "$leaf
extendedKeyUsage=codeSigning"
issue ec int 30 "$leaf
extendedKeyUsage=codeSigning" ec -pkeyopt ec_paramgen_curve:P-256
issue plain int 30 "$leaf"
issue short int 1 "$leaf
extendedKeyUsage=codeSigning"
issue tsa int 30 "$leaf
extendedKeyUsage=critical,timeStamping"
# dated NAME FROM TO: a code-signing certificate of the intermediate valid from FROM to TO (dates as date -d takes
# them): openssl x509 -req starts a certificate now, openssl ca takes any validity.
mkdir -p "$keys/db-dated"
: >"$keys/db-dated/index.txt"
printf '[ca]\ndefault_ca=test\n[test]\ndatabase=%s/index.txt\nnew_certs_dir=%s\nserial=%s/serial\ndefault_md=sha256\npolicy=any\n[any]\ncommonName=supplied\norganizationName=optional\n' \
  "$keys/db-dated" "$keys/db-dated" "$keys/db-dated" >"$keys/db-dated/ca.cnf"
echo 01 >"$keys/db-dated/serial"
dated() {
  openssl req -new -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.csr" -subj "/O=Farrowind/CN=$1" \
    2>/dev/null
  { printf '%s\nextendedKeyUsage=codeSigning\n' "$leaf"; distribution int; } >"$keys/$1.ext"
  openssl ca -batch -config "$keys/db-dated/ca.cnf" -cert "$keys/int.pem" -keyfile "$keys/int.key" \
    -in "$keys/$1.csr" -out "$keys/$1.pem" -notext -extfile "$keys/$1.ext" \
    -startdate "$(date -u -d "$2" +%Y%m%d%H%M%SZ)" -enddate "$(date -u -d "$3" +%Y%m%d%H%M%SZ)" 2>/dev/null
}
dated old '-20 days' '-10 days'
dated future '+10 days' '+40 days'
for name in signer ec tsa old; do cat "$keys/$name.pem" "$keys/int.pem" >"$keys/$name-chain.pem"; done
mv "$keys/signer-chain.pem" "$keys/chain.pem"
printf '%s\n' "$password" >"$keys/password"
openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer.key" -certfile "$keys/int.pem" \
  -out "$keys/signer.p12" -passout "file:$keys/password"
openssl pkcs12 -export -legacy -in "$keys/signer.pem" -inkey "$keys/signer.key" -certfile "$keys/int.pem" \
  -out "$keys/signer-legacy.p12" -passout "file:$keys/password"
# A password whose blanks at either end are part of it, given in the environment so that no reader trims them.
blank_password=' pass word  '
printf '%s\n' "$blank_password" >"$keys/blank-password"
QMT_KEYS_PASSWORD=$blank_password openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer.key" \
  -certfile "$keys/int.pem" -out "$keys/signer-blank.p12" -passout env:QMT_KEYS_PASSWORD

# crl NAME ISSUER [CERTIFICATE TO REVOKE]: a CRL of ISSUER, valid for 30 days, in $keys/NAME.crl
crl() {
  db=$keys/db-$1
  mkdir -p "$db"
  : >"$db/index.txt"
  echo 01 >"$db/crlnumber"
  printf '[ca]\ndefault_ca=test\n[test]\ndatabase=%s/index.txt\ncrlnumber=%s/crlnumber\ndefault_md=sha256\n' \
    "$db" "$db" >"$db/ca.cnf"
  [ -z "${3:-}" ] || openssl ca -config "$db/ca.cnf" -keyfile "$keys/$2.key" -cert "$keys/$2.pem" \
    -revoke "$keys/$3.pem" 2>/dev/null
  openssl ca -config "$db/ca.cnf" -keyfile "$keys/$2.key" -cert "$keys/$2.pem" -gencrl -crldays 30 \
    -out "$keys/$1.crl" 2>/dev/null
}
crl root root
crl int int
crl revoked int signer

# The time-stamping authority's settings for tsa-server.pl.
echo 01 >"$keys/tsa.serial"
cat >"$keys/tsa.cnf" <<END
[tsa]
default_tsa = test
[test]
serial = $keys/tsa.serial
signer_cert = $keys/tsa.pem
signer_key = $keys/tsa.key
certs = $keys/int.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.59999.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
END
