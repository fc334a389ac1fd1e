#!/bin/sh
# Sourced by the release tests: makes throwaway keys in folder $keys with openssl (nothing here is ever committed).
#   ca.pem            root certificate of a test CA
#   signer.pem/.key   code-signing certificate and key, valid from now for 30 days; signer.p12 with password $password
#   plain.pem/.key    a certificate of the same CA without the code-signing usage
#   short.pem/.key    a code-signing certificate valid for one day
#   tsa.pem/.key      a time-stamping authority of the same CA
password=pa55-w0rd
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/ca.key" -out "$keys/ca.pem" -days 30 \
  -subj "/CN=Quillmart Test CA" -addext basicConstraints=critical,CA:true \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
# issue NAME DAYS EXTENDED_KEY_USAGE (empty: none)
issue() {
  openssl req -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.csr" -subj "/O=Farrowind/CN=$1" \
    2>/dev/null
  printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\n' >"$keys/$1.ext"
  [ -z "$3" ] || printf 'extendedKeyUsage=%s\n' "$3" >>"$keys/$1.ext"
  openssl x509 -req -in "$keys/$1.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" -CAcreateserial \
    -out "$keys/$1.pem" -days "$2" -extfile "$keys/$1.ext" 2>/dev/null
}
issue signer 30 codeSigning
issue plain 30 ""
issue short 1 codeSigning
issue tsa 30 critical,timeStamping
printf '%s\n' "$password" >"$keys/password"
openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer.key" -certfile "$keys/ca.pem" \
  -out "$keys/signer.p12" -passout "file:$keys/password"
