#!/bin/bash
# Side-by-side transfer figures against ONE local server on 127.0.0.1, active mode on both
# sides: a 512 MiB upload and download (transfer_bench vs curl), and 1,000 files of 4 KiB in
# one connection (transfer_bench through the interpreter, CheckFileSize off and on, vs lftp
# mirror -R).
#
#   bench/transfer_bench.sh [path/to/transfer_bench]      SERVER=pyftpdlib|vsftpd (default pyftpdlib)
#
# vsftpd needs root and the system user tarnwick-ftp (the test launcher creates it).
set -euo pipefail

BENCH=${1:-build-bench-ftp/bench/transfer_bench}
SERVER=${SERVER:-pyftpdlib}
PYTHON=/usr/bin/python3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
SERVER_PID=

cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill -KILL -- "-$SERVER_PID" 2>/dev/null || kill -KILL "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/root" "$WORK/small"

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

if [ "$SERVER" = vsftpd ]; then
    USER_NAME=tarnwick-ftp
    PASSWORD=tarnwick-ftp-test
    id -u "$USER_NAME" >/dev/null 2>&1 || useradd -m -s /bin/sh "$USER_NAME"
    echo "$USER_NAME:$PASSWORD" | chpasswd
    chmod 711 "$WORK"
    chown "$USER_NAME" "$WORK/root"
    PORT=$(free_port)
    cat > "$WORK/vsftpd.conf" <<EOF
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
pasv_min_port=30000
pasv_max_port=39999
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=/var/run/vsftpd/empty
EOF
    setsid /usr/sbin/vsftpd "$WORK/vsftpd.conf" > "$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    wait_for_port "$PORT"
else
    USER_NAME=bench
    PASSWORD=bench-word
    PORT=$(free_port)
    setsid "$PYTHON" - "$WORK/root" "$USER_NAME" "$PASSWORD" "$PORT" > "$WORK/server.log" 2>&1 <<'EOF' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPServer(("127.0.0.1", port), FTPHandler).serve_forever()
EOF
    SERVER_PID=$!
    wait_for_port "$PORT"
fi

ADDRESS=127.0.0.1:$PORT
URL=ftp://$USER_NAME:$PASSWORD@$ADDRESS

now() { date +%s.%N; }
rate() { "$PYTHON" -c "print('%.0f' % ($1 / ($3 - $2)))"; }

echo "server: $SERVER on $ADDRESS"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$WORK/big.bin"
"$PYTHON" -c "
import os, sys
for i in range(1000):
    with open(os.path.join(sys.argv[1], 'f%04d.html' % i), 'wb') as f:
        f.write(os.urandom(4096))
" "$WORK/small"
BYTES=$(stat -c %s "$WORK/big.bin")

echo "== 512 MiB upload"
"$BENCH" upload "$ADDRESS" "$USER_NAME" "$PASSWORD" "$WORK/big.bin" /ours.bin
start=$(now)
curl -s --ftp-port 127.0.0.1 -T "$WORK/big.bin" "$URL/curl.bin"
end=$(now)
echo "curl -T upload: $BYTES bytes = $(rate "$BYTES" "$start" "$end" | awk '{print $1/1e6}') MB/s"
cmp "$WORK/big.bin" "$WORK/root/ours.bin" && echo "upload verified byte for byte"

echo "== 512 MiB download"
"$BENCH" download "$ADDRESS" "$USER_NAME" "$PASSWORD" /curl.bin "$WORK/down-ours.bin"
start=$(now)
curl -s --ftp-port 127.0.0.1 -o "$WORK/down-curl.bin" "$URL/ours.bin"
end=$(now)
echo "curl -o download: $BYTES bytes = $(rate "$BYTES" "$start" "$end" | awk '{print $1/1e6}') MB/s"
cmp "$WORK/big.bin" "$WORK/down-ours.bin" && echo "download verified byte for byte"
rm -f "$WORK/down-ours.bin" "$WORK/down-curl.bin" "$WORK/root/ours.bin" "$WORK/root/curl.bin"

echo "== 1,000 files of 4 KiB, one connection"
"$BENCH" files "$ADDRESS" "$USER_NAME" "$PASSWORD" "$WORK/small" /ours-off 0
"$BENCH" files "$ADDRESS" "$USER_NAME" "$PASSWORD" "$WORK/small" /ours-on 1
start=$(now)
lftp -u "$USER_NAME,$PASSWORD" -p "$PORT" \
    -e "set ftp:passive-mode off; mirror -R --no-perms $WORK/small /lftp; quit" 127.0.0.1 > /dev/null
end=$(now)
echo "lftp mirror -R: 1000 files = $(rate 1000 "$start" "$end") files/s"
for copy in ours-off ours-on lftp; do
    diff -r "$WORK/small" "$WORK/root/$copy" > /dev/null && echo "$copy verified"
done
