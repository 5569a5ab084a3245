# Shared by the transfer benchmarks: a scratch folder removed on exit with the server in it,
# ports, timing, the test files and a vsftpd on 127.0.0.1. Sourced, not run.
#
# Sets WORK and PYTHON; the caller sets SERVER_PID once it starts a server.

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

now() { date +%s.%N; }
rate() { "$PYTHON" -c "print('%.0f' % ($1 / ($3 - $2)))"; }

# $WORK/big.bin (512 MiB) and 1,000 files of 4 KiB in $WORK/small, all random; sets BYTES.
make_test_files() {
    head -c $((512 * 1024 * 1024)) /dev/urandom > "$WORK/big.bin"
    "$PYTHON" -c "
import os, sys
for i in range(1000):
    with open(os.path.join(sys.argv[1], 'f%04d.html' % i), 'wb') as f:
        f.write(os.urandom(4096))
" "$WORK/small"
    BYTES=$(stat -c %s "$WORK/big.bin")
}

# Starts vsftpd serving $WORK/root to the system user tarnwick-ftp (created when missing; needs
# root) on a free port; lines on standard input are added to its configuration. Sets
# USER_NAME, PASSWORD, PORT and SERVER_PID.
start_vsftpd() {
    USER_NAME=tarnwick-ftp
    PASSWORD=tarnwick-ftp-test
    id -u "$USER_NAME" >/dev/null 2>&1 || useradd -m -s /bin/sh "$USER_NAME"
    echo "$USER_NAME:$PASSWORD" | chpasswd
    chmod 711 "$WORK"
    chown "$USER_NAME" "$WORK/root"
    PORT=$(free_port)
    {
        cat <<CONF
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
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=/var/run/vsftpd/empty
CONF
        cat
    } > "$WORK/vsftpd.conf"
    setsid /usr/sbin/vsftpd "$WORK/vsftpd.conf" > "$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    wait_for_port "$PORT"
}

# Starts bench/pyftpd_server.py (the account bench / bench-password) serving $WORK/server on a
# port of its own choosing. Sets PORT and SERVER_PID.
start_pyftpd() {
    mkdir -p "$WORK/server"
    "$PYTHON" "$(dirname "${BASH_SOURCE[0]}")/pyftpd_server.py" "$WORK/server" 127.0.0.1 "$WORK/port" \
        >"$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    for _ in $(seq 200); do [ -s "$WORK/port" ] && break; sleep 0.05; done
    [ -s "$WORK/port" ] || { cat "$WORK/server.log"; echo "bench: the FTP server did not start" >&2; exit 1; }
    PORT=$(cat "$WORK/port")
}
