#!/bin/sh
# Makes a throw-away PKI for signing tests, in DIR:
#   ca.pem ca.der          a root CA
#   codesign.p12           a code-signing key and certificate (EKU codeSigning)
#                          with the CA, under the password in password.txt
#   tsa.pem tsa.key        a time-stamping authority (EKU timeStamping, critical)
#   tsa.cnf                `openssl ts -reply` configuration for that authority
#   other.pem              a second root CA that issued nothing here
#   makeTestPki.sh DIR
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
dir=$(pwd)

cat >x509.cnf <<'EOF'
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
[ ca ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ codesign ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ tsa ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

root() { # root NAME CN
    openssl req -x509 -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 7 \
        -subj "/CN=$2" -config x509.cnf -extensions ca 2>/dev/null
}
issued() { # issued NAME CN EXTENSIONS
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
        -config x509.cnf 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" \
        -days 7 -out "$1.pem" -extfile x509.cnf -extensions "$3" 2>/dev/null
}

root ca "Release Test Root CA"
root other "Release Test Other CA"
openssl x509 -in ca.pem -outform der -out ca.der
issued codesign "Release Test Code Signing" codesign
issued tsa "Release Test Time Stamping" tsa

printf 'test password %s\n' "$(openssl rand -hex 6)" >password.txt
openssl pkcs12 -export -inkey codesign.key -in codesign.pem -certfile ca.pem -out codesign.p12 \
    -passout file:password.txt

echo 01 >tsaserial
cat >tsa.cnf <<EOF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $dir/tsaserial
crypto_device = builtin
signer_cert = $dir/tsa.pem
certs = $dir/ca.pem
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
