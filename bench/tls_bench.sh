#!/bin/bash
# Side-by-side figures over explicit TLS against ONE local vsftpd on 127.0.0.1 (passive mode,
# require_ssl_reuse=YES, a certificate made for the run): a 512 MiB upload (transfer_bench vs
# curl --ssl-reqd -T) and 1,000 files of 4 KiB in one connection each (transfer_bench through
# the interpreter, CheckFileSize off, vs lftp mirror -R with ftp:ssl-force true).
#
#   bench/tls_bench.sh [path/to/transfer_bench]
#
# Needs root (vsftpd switches to the system user tarnwick-ftp, created when missing).
set -euo pipefail

BENCH=${1:-build-tls-bench/bench/transfer_bench}
. "$(dirname "$0")/bench_lib.sh"
mkdir -p "$WORK/data"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=localhost \
    -keyout "$WORK/key.pem" -out "$WORK/cert.pem" > /dev/null 2>&1
cat "$WORK/cert.pem" "$WORK/key.pem" > "$WORK/server.pem"
start_vsftpd <<CONF
pasv_enable=YES
pasv_min_port=40000
pasv_max_port=49999
max_clients=0
max_per_ip=0
ssl_enable=YES
rsa_cert_file=$WORK/server.pem
rsa_private_key_file=$WORK/server.pem
require_ssl_reuse=YES
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_ciphers=HIGH
CONF

ADDRESS=127.0.0.1:$PORT
# The client trusts this run's self-signed certificate as a user would, by its fingerprint.
FINGERPRINT=$(openssl x509 -in "$WORK/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
mkdir -p "$WORK/data/Tarnwick"
echo "$ADDRESS $FINGERPRINT" > "$WORK/data/Tarnwick/trusted-certs.txt"
export XDG_DATA_HOME=$WORK/data

echo "server: vsftpd with explicit TLS on $ADDRESS"
make_test_files

ours_upload() {
    "$BENCH" upload "ftpes://$ADDRESS" "$USER_NAME" "$PASSWORD" "$WORK/big.bin" /ours.bin
    cmp "$WORK/big.bin" "$WORK/root/ours.bin" && echo "upload verified byte for byte"
    rm -f "$WORK/root/ours.bin"
}
curl_upload() {
    start=$(now)
    curl -s --ssl-reqd -k -T "$WORK/big.bin" "ftp://$USER_NAME:$PASSWORD@$ADDRESS/curl.bin"
    end=$(now)
    echo "curl --ssl-reqd -T upload: $BYTES bytes = $(rate "$BYTES" "$start" "$end" | awk '{print $1/1e6}') MB/s"
    rm -f "$WORK/root/curl.bin"
}

# Whichever upload comes first competes with the write-back of the freshly made 512 MiB
# file, so each client goes first once.
echo "== 512 MiB upload over TLS"
ours_upload
curl_upload
curl_upload
ours_upload

echo "== 1,000 files of 4 KiB over TLS, one connection each"
"$BENCH" files "ftpes://$ADDRESS" "$USER_NAME" "$PASSWORD" "$WORK/small" /ours 0
start=$(now)
lftp -u "$USER_NAME,$PASSWORD" -p "$PORT" \
    -e "set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no; set ftp:passive-mode on; mirror -R --no-perms --parallel=1 $WORK/small /lftp; quit" \
    127.0.0.1 > /dev/null
end=$(now)
echo "lftp mirror -R (ftp:ssl-force true): 1000 files = $(rate 1000 "$start" "$end") files/s"
for copy in ours lftp; do
    diff -r "$WORK/small" "$WORK/root/$copy" > /dev/null && echo "$copy verified"
done
