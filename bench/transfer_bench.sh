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
. "$(dirname "$0")/bench_lib.sh"

if [ "$SERVER" = vsftpd ]; then
    start_vsftpd <<CONF
pasv_min_port=30000
pasv_max_port=39999
CONF
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

echo "server: $SERVER on $ADDRESS"
make_test_files

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
