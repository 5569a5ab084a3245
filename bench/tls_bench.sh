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
PYTHON=/usr/bin/python3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-tls-bench-XXXXXX")
SERVER_PID=

cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill -KILL -- "-$SERVER_PID" 2>/dev/null || kill -KILL "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/root" "$WORK/small" "$WORK/data"

free_port() {
    "$PYTHON" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for_port() {
    for _ in $(seq 1 400); do
        if "$PYTHON" -c "import socket,sys; socket.create_connection(('127.0.0.1',$1),1)" 2>/dev/null; then
            return 0
        fi
        sleep 0.025
    done
    echo "server did not start" >&2
    exit 1
}

USER_NAME=tarnwick-ftp
PASSWORD=tarnwick-ftp-test
id -u "$USER_NAME" >/dev/null 2>&1 || useradd -m -s /bin/sh "$USER_NAME"
echo "$USER_NAME:$PASSWORD" | chpasswd
chmod 711 "$WORK"
chown "$USER_NAME" "$WORK/root"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=localhost \
    -keyout "$WORK/key.pem" -out "$WORK/cert.pem" > /dev/null 2>&1
cat "$WORK/cert.pem" "$WORK/key.pem" > "$WORK/server.pem"
PORT=$(free_port)
cat > "$WORK/vsftpd.conf" <<CONF
listen=YES
background=NO
listen_address=127.0.0.1
listen_port=$PORT
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$WORK/root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=vsftpd
pasv_enable=YES
pasv_min_port=40000
pasv_max_port=49999
port_enable=YES
connect_from_port_20=NO
max_clients=0
max_per_ip=0
secure_chroot_dir=/var/run/vsftpd/empty
ssl_enable=YES
rsa_cert_file=$WORK/server.pem
rsa_private_key_file=$WORK/server.pem
require_ssl_reuse=YES
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_ciphers=HIGH
CONF
setsid /usr/sbin/vsftpd "$WORK/vsftpd.conf" > "$WORK/server.log" 2>&1 &
SERVER_PID=$!
wait_for_port "$PORT"

ADDRESS=127.0.0.1:$PORT
# The client trusts this run's self-signed certificate as a user would, by its fingerprint.
FINGERPRINT=$(openssl x509 -in "$WORK/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
mkdir -p "$WORK/data/Tarnwick"
echo "$ADDRESS $FINGERPRINT" > "$WORK/data/Tarnwick/trusted-certs.txt"
export XDG_DATA_HOME=$WORK/data

now() { date +%s.%N; }
rate() { "$PYTHON" -c "print('%.0f' % ($1 / ($3 - $2)))"; }

echo "server: vsftpd with explicit TLS on $ADDRESS"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$WORK/big.bin"
"$PYTHON" -c "
import os, sys
for i in range(1000):
    with open(os.path.join(sys.argv[1], 'f%04d.html' % i), 'wb') as f:
        f.write(os.urandom(4096))
" "$WORK/small"
BYTES=$(stat -c %s "$WORK/big.bin")

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
