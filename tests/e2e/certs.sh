# Certificates for the end-to-end tests of POP3 over TLS, made afresh in
# the test's own folder with openssl. Source it; it defines functions only.
#
#   certs_make DIR [ec|rsa]   makes in DIR (default EC P-256 keys):
#     ca.pem                  a test CA, to be trusted in the test's Wine
#                             prefix only (tests/e2e/tools/trustca.c)
#     localhost.pem/.key      signed by it, for DNS:localhost
#     othername.pem/.key      signed by it, for DNS:mail.example.invalid
#     untrusted-ca.pem        a CA nobody trusts, and
#     untrusted.pem/.key      signed by it, for DNS:localhost
#   Each server's .pem holds its certificate followed by its CA's, as a
#   server sends them.
#
# The CAs' names carry the time and the process, so a CA of one run is
# never taken for another's. Nothing here touches the system's stores.
#
# Wine's crypt32 hands an ECDSA signature to bcrypt as r and s laid end to
# end without padding them to the curve's size, so a signature whose r or
# s happens to start with a zero byte (about 1 in 128) fails to verify
# there, though Windows takes it. Every EC certificate is therefore signed
# again, with a fresh random k, until both halves are full length.

_certs_key() {
  local kind=$1 out=$2
  case "$kind" in
    ec) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$out" 2>/dev/null ;;
    rsa) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$out" 2>/dev/null ;;
  esac
}

# _certs_sig_full KIND CERT: the certificate's signature will verify under
# Wine (see above).
_certs_sig_full() {
  local kind=$1 cert=$2 off
  [ "$kind" = ec ] || return 0
  off=$(openssl asn1parse -in "$cert" | tail -1 | sed 's/^ *\([0-9]*\):.*/\1/')
  [ "$(openssl asn1parse -in "$cert" -strparse "$off" | sed -n 's/.*INTEGER *://p' |
    awk 'length($0) == 64' | wc -l)" -eq 2 ]
}

# _certs_signed KIND CERT COMMAND...: runs COMMAND, which writes CERT, until
# CERT's signature will verify under Wine.
_certs_signed() {
  local kind=$1 cert=$2 try
  shift 2
  for try in 1 2 3 4 5 6 7 8; do
    "$@" || return 1
    _certs_sig_full "$kind" "$cert" && return 0
  done
  return 1
}

# _certs_ca KIND DIR NAME CN
_certs_ca() {
  local kind=$1 dir=$2 name=$3 cn=$4
  _certs_key "$kind" "$dir/$name.key"
  _certs_signed "$kind" "$dir/$name.pem" \
    openssl req -x509 -new -key "$dir/$name.key" -out "$dir/$name.pem" -days 30 -subj "/CN=$cn" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" 2>/dev/null
}

# _certs_leaf KIND DIR NAME CA DNSNAME
_certs_leaf() {
  local kind=$1 dir=$2 name=$3 ca=$4 dns=$5
  local usage="critical,digitalSignature"
  [ "$kind" = rsa ] && usage="$usage,keyEncipherment"
  _certs_key "$kind" "$dir/$name.key"
  printf '%s\n' \
    "basicConstraints=critical,CA:FALSE" \
    "keyUsage=$usage" \
    "extendedKeyUsage=serverAuth" \
    "subjectAltName=DNS:$dns" \
    "subjectKeyIdentifier=hash" \
    "authorityKeyIdentifier=keyid" >"$dir/$name.ext"
  openssl req -new -key "$dir/$name.key" -subj "/CN=$dns" -out "$dir/$name.csr" 2>/dev/null &&
    _certs_signed "$kind" "$dir/$name.crt" \
      openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" \
      -set_serial "0x$(openssl rand -hex 8)" -days 30 -extfile "$dir/$name.ext" \
      -out "$dir/$name.crt" 2>/dev/null || return 1
  cat "$dir/$name.crt" "$dir/$ca.pem" >"$dir/$name.pem"
  chmod 644 "$dir/$name.key"
}

certs_make() {
  local dir=$1 kind=${2:-ec}
  local stamp
  stamp="$(date +%Y%m%d%H%M%S).$$"
  mkdir -p "$dir"
  _certs_ca "$kind" "$dir" ca "Kivvet LE test CA $stamp" &&
    _certs_leaf "$kind" "$dir" localhost ca localhost &&
    _certs_leaf "$kind" "$dir" othername ca mail.example.invalid &&
    _certs_ca "$kind" "$dir" untrusted-ca "Kivvet LE untrusted CA $stamp" &&
    _certs_leaf "$kind" "$dir" untrusted untrusted-ca localhost || {
    echo "could not make the test certificates in $dir" >&2
    return 1
  }
}
