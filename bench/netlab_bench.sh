#!/usr/bin/env bash
# Upload runs over a real round-trip time (../shared/netlab), beside lftp doing the same job,
# over FTP (pyftpdlib) or SFTP (the system's OpenSSH server):
#   first upload of the whole site     - tarnwick NAME  vs  lftp mirror -R --parallel=4
#   CHANGED files rewritten since then - tarnwick NAME  vs  lftp mirror -R --only-newer --parallel=4
#   nothing changed                    - tarnwick NAME (and BEFORE)
#   FULL=1 adds lftp mirror -R over one connection (slow at a real round trip).
#   BEFORE=path/to/tarnwick adds an older build, run interleaved with the current one, so
#   that before and after come from one sitting on a shared machine.
#   RCLONE=1 adds rclone copy --transfers 4 for the first upload (FTP only; rclone is not a
#   dependency of the project: apt-get install rclone).
#   REBUILD=1 instead: a site generator writes every file again (new times), CHANGED of them
#   with new bytes - tarnwick comparing contents (strategy 3) and times (strategy 2) against
#   lftp mirror -R --only-newer --parallel=4, each after a first upload of its own.
# On loopback a command costs nothing, so only a round trip shows what a user on shared hosting
# waits for; the server counts the commands each run sends, which is what the wait is made of.
#
#   sudo bench/netlab_bench.sh
#   sudo PROTOCOL=sftp RTTS=20 bench/netlab_bench.sh
#
# Environment: PROTOCOL (ftp; or sftp), RTTS ("20 50", ms), FILES (1000), SIZE (4096 bytes),
# FOLDERS (0: ten folders with subfolders beneath; N: N flat folders),
# CHANGED (10), REBUILD (0), REPEATS (1, median of), TARNWICK (build/src/app/tarnwick), BEFORE (another
# tarnwick, say main's build, run in the same rounds as "before"), CONNECTIONS (unset: the
# program's default), FULL (0), KEEP (0; 1 keeps the work folder and its logs), NETLAB
# (../shared/netlab). NS and NET are passed on to wire.sh.
# Needs root for the namespace. Run by hand only, never in CI.
# Over SFTP the server is sshd with a key for root and a forced sftp-server per login, all in the
# work folder; a "command" is an SFTP request other than a data read or write.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
netlab=${NETLAB:-$repo/../shared/netlab}
rtts=${RTTS:-20 50}
files=${FILES:-1000}
size=${SIZE:-4096}
changed=${CHANGED:-10}
folders=${FOLDERS:-0}
repeats=${REPEATS:-1}
program=${TARNWICK:-$repo/build/src/app/tarnwick}
before=${BEFORE:-}
connections=${CONNECTIONS:-}
full=${FULL:-0}
with_rclone=${RCLONE:-0}
rebuild=${REBUILD:-0}
strategy=2
keep=${KEEP:-0}
protocol=${PROTOCOL:-ftp}
ns=${NS:-twlat}
# wire.sh keeps the delay line's pid there: a wire of another name must not share it.
export WIRE_DIR=${WIRE_DIR:-${TMPDIR:-/tmp}/$ns-wire}
server_ip=${NET:-10.77.0}.2
python=/usr/bin/python3

[ "$(id -u)" = 0 ] || { echo "bench: netlab needs root" >&2; exit 1; }
[ -x "$netlab/wire.sh" ] || { echo "bench: no netlab at $netlab" >&2; exit 1; }
[ -x "$program" ] || { echo "bench: no tarnwick at $program (build it, or set TARNWICK)" >&2; exit 1; }
[ -z "$before" ] || [ -x "$before" ] || { echo "bench: no tarnwick at $before (BEFORE)" >&2; exit 1; }
command -v lftp >/dev/null || { echo "bench: lftp is not installed (apt-get install lftp)" >&2; exit 1; }
[ "$with_rclone" = 0 ] || command -v rclone >/dev/null ||
    { echo "bench: rclone is not installed (apt-get install rclone)" >&2; exit 1; }
case $protocol in
ftp) command -v curl >/dev/null || { echo "bench: curl is needed to check the wire" >&2; exit 1; } ;;
sftp)
    sshd=/usr/sbin/sshd
    # internal-sftp logs to syslog only; the separate server writes its log where it is told.
    sftp_server=/usr/lib/openssh/sftp-server
    { [ -x "$sshd" ] && [ -x "$sftp_server" ] && command -v ssh-keygen >/dev/null && command -v ssh >/dev/null; } ||
        { echo "bench: SFTP needs the OpenSSH server and client (apt-get install openssh-server)" >&2; exit 1; }
    ;;
*) echo "bench: PROTOCOL is ftp or sftp, not $protocol" >&2; exit 1 ;;
esac
[ "$changed" -le "$files" ] || { echo "bench: CHANGED exceeds FILES" >&2; exit 1; }
# wire.sh up first takes down whatever wire has the same name: never someone else's.
if ip netns list | grep -qw "$ns"; then
    echo "bench: namespace $ns exists (another benchmark, or a stale one: $netlab/wire.sh down)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-netbench-XXXXXX")
server_pid=
wire_up=
cleanup() {
    if [ -n "$server_pid" ]; then
        # sshd serves each login from a child; one whose client hung would outlive the wire.
        [ "$protocol" != sftp ] || pkill -TERM -P "$server_pid" 2>/dev/null || true
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    [ -z "$wire_up" ] || "$netlab/wire.sh" down >/dev/null 2>&1 || true
    if [ "$keep" = 1 ]; then
        echo "bench: work folder kept: $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# The site: FILES files of SIZE random bytes, in ten folders with subfolders beneath (or in
# FOLDERS flat folders). The files
# to change are spread over the tree so that a run cannot get away with one folder's listing.
"$python" - "$work/site" "$files" "$size" "$changed" "$work/changed.list" "$folders" <<'PY'
import os, sys
root, count, size, changed, changed_list = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
flat = int(sys.argv[6])
paths = []
for i in range(count):
    if flat:
        folder = os.path.join(root, "d%02d" % (i % flat))
    else:
        folder = os.path.join(root, "s%d" % (i % 10), "p%d" % (i % 7)) if i % 3 else os.path.join(root, "s%d" % (i % 10))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "f%05d.html" % i)
    with open(path, "wb") as out:
        out.write(os.urandom(size))
    paths.append(path)
step = count // changed if changed else 0
with open(changed_list, "w") as out:
    for k in range(changed):
        out.write(paths[k * step] + "\n")
PY

# The whole site written again, as a generator does: every file gets a new time, the changed
# ones new bytes of the same size.
rebuild_site() {
    "$python" - "$work/site" "$work/changed.list" <<'PY'
import os, sys
changed = set(open(sys.argv[2]).read().split())
for folder, _, names in os.walk(sys.argv[1]):
    for name in names:
        path = os.path.join(folder, name)
        data = open(path, "rb").read()
        with open(path, "wb") as out:
            out.write(os.urandom(len(data)) if path in changed else data)
PY
}

# Same size, new bytes: a change that only the time stamp or the content can give away.
change_files() {
    "$python" - "$work/changed.list" <<'PY'
import os, sys
for path in open(sys.argv[1]).read().split():
    size = os.path.getsize(path)
    with open(path, "wb") as out:
        out.write(os.urandom(size))
PY
}

"$netlab/wire.sh" up "${rtts%% *}" >"$work/wire.log" 2>&1 || { cat "$work/wire.log"; echo "bench: wire.sh up failed" >&2; exit 1; }
wire_up=1

mkdir -p "$work/server"
# DEBUG makes pyftpdlib write every command line it receives ("<- CMD"), the figure counted.
start_ftp_server() {
    "$netlab/wire.sh" exec "$python" "$repo/bench/pyftpd_server.py" "$work/server" "$server_ip" "$work/port" \
        "$work/server.log" >"$work/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
    [ -s "$work/port" ] || { cat "$work/server.out"; echo "bench: the FTP server did not start" >&2; exit 1; }
    port=$(cat "$work/port")
}

# Root logs in with a key and starts in the server folder (-d): Tarnwick's remote folder, taken
# relative to the login folder, and lftp's target both land where verify looks. Each login's
# sftp-server writes a log of its own at DEBUG3, where every request has a line.
start_sftp_server() {
    local ssh_fingerprint
    mkdir -p /run/sshd "$work/sftp-log/counted"
    ssh-keygen -q -t ed25519 -N '' -C bench-host -f "$work/host_key"
    ssh-keygen -q -t ed25519 -N '' -C bench-client -f "$work/client_key"
    cp "$work/client_key.pub" "$work/authorized_keys"
    # The namespace is this benchmark's own: a port free now stays free.
    port=$("$netlab/wire.sh" exec "$python" -c 'import socket, sys
s = socket.socket()
s.bind((sys.argv[1], 0))
print(s.getsockname()[1])' "$server_ip")
    cat >"$work/sshd_config" <<EOF
ListenAddress $server_ip
Port $port
HostKey $work/host_key
PidFile none
StrictModes no
UsePAM no
UseDNS no
PasswordAuthentication no
KbdInteractiveAuthentication no
PubkeyAuthentication yes
PermitRootLogin prohibit-password
AuthorizedKeysFile $work/authorized_keys
MaxStartups 100
LogLevel VERBOSE
Subsystem sftp $sftp_server
ForceCommand $sftp_server -e -l DEBUG3 -d $work/server 2>>$work/sftp-log/\$\$.log
EOF
    "$netlab/wire.sh" exec "$sshd" -D -e -f "$work/sshd_config" >"$work/sshd.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 200); do grep -q '^Server listening' "$work/sshd.log" && break; sleep 0.05; done
    grep -q '^Server listening' "$work/sshd.log" || { cat "$work/sshd.log"; echo "bench: sshd did not start" >&2; exit 1; }
    echo "[$server_ip]:$port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/known_hosts"
    # Tarnwick's trust store holds the SHA-256 of the key in hexadecimal, ssh-keygen shows base64.
    ssh_fingerprint=$(ssh-keygen -lf "$work/host_key.pub" -E sha256 | cut -d' ' -f2)
    host_fingerprint=$("$python" -c 'import base64, sys
text = sys.argv[1].split(":", 1)[1]
digest = base64.b64decode(text + "=" * (-len(text) % 4))
print(":".join("%02X" % b for b in digest))' "$ssh_fingerprint")
    [ "${#host_fingerprint}" = 95 ] || { echo "bench: no SHA-256 fingerprint in '$ssh_fingerprint'" >&2; exit 1; }
}

if [ "$protocol" = sftp ]; then start_sftp_server; else start_ftp_server; fi

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The delay line is user space and can fall behind or not be there at all: check it against
# the figure asked for before any timing is trusted. A TCP handshake is one round trip; a
# curl listing is about ten.
check_wire() { # rtt_ms
    local handshake listing start
    handshake=$("$python" - "$server_ip" "$port" <<'PY'
import socket, sys, time
best = None
for _ in range(5):
    start = time.monotonic()
    socket.create_connection((sys.argv[1], int(sys.argv[2])), 5).close()
    took = (time.monotonic() - start) * 1000
    best = took if best is None else min(best, took)
    time.sleep(0.05)
print("%.1f" % best)
PY
)
    if [ "$protocol" = ftp ]; then
        start=$(now)
        curl -s -o /dev/null --max-time 30 -u bench:bench-password "ftp://$server_ip:$port/" ||
            { echo "bench: curl listing failed" >&2; exit 1; }
        listing=$(elapsed "$start" "$(now)")
        echo "wire: asked $1 ms; TCP handshake $handshake ms; curl listing $listing s (~10 round trips)"
    else
        echo "wire: asked $1 ms; TCP handshake $handshake ms"
    fi
    awk -v h="$handshake" -v r="$1" 'BEGIN { exit !(h >= 0.9 * r && h <= 1.5 * r + 5) }' ||
        { echo "bench: the measured round trip ($handshake ms) is not the one asked for ($1 ms)" >&2; exit 1; }
}

write_project() {
    mkdir -p "$work/data/Tarnwick" "$work/config"
    {
        cat <<EOF
strategy=$strategy
remote=/tarnwick
local=$work/site
[site]
name=bench
startdir=
EOF
        if [ "$protocol" = sftp ]; then
            printf 'url=sftp://%s:%s\nuser=root\npass=\nkeyfile=%s\n' "$server_ip" "$port" "$work/client_key"
        else
            printf 'url=%s:%s\nuser=bench\npass=bench-password\n' "$server_ip" "$port"
        fi
        [ -z "$connections" ] || echo "connections=$connections"
    } >"$work/data/Tarnwick/bench.ftp"
    [ "$protocol" != sftp ] ||
        (umask 077 && echo "$server_ip:$port $host_fingerprint" >"$work/data/Tarnwick/trusted-host-keys.txt")
}

# Commands and uploads the server saw since log offset $1; sets cmds and stors, and leaves the
# count per command in $work/verbs, which says where the round trips went.
count_since() {
    # The log is written as each line arrives; the QUIT of the last connection may still be on
    # the wire when the client returns.
    sleep 0.3
    if [ "$protocol" = sftp ]; then
        count_sftp
        return
    fi
    tail -c +"$(($1 + 1))" "$work/server.log" | grep ' <- ' >"$work/commands" || true
    cmds=$(wc -l <"$work/commands")
    stors=$(grep -Ec ' <- (STOR|APPE|STOU) ' "$work/commands" || true)
    awk '{ for (i = 1; i < NF; i++) if ($i == "<-") { n[toupper($(i + 1))]++; break } }
        END { for (v in n) print n[v], v }' "$work/commands" | sort -k1,1nr -k2 |
        awk '{ printf "%s%s %d", (NR > 1 ? ", " : ""), $2, $1 }' >"$work/verbs"
}
log_offset() { stat -c %s "$work/server.log" 2>/dev/null || echo 0; }

# Over SFTP each login writes a log of its own: a run's logs are those not counted yet.
count_sftp() {
    local logs figures
    mapfile -t logs < <(find "$work/sftp-log" -maxdepth 1 -name '*.log' | sort)
    figures=$("$python" "$repo/bench/sftp_log_count.py" "$work/verbs" "${logs[@]}")
    read -r cmds stors <<<"$figures"
    [ "${#logs[@]}" = 0 ] || mv "${logs[@]}" "$work/sftp-log/counted/"
}

tarnwick_run() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        "$program" bench >"$work/tarnwick.log" 2>&1 || { tail -20 "$work/tarnwick.log" >&2; echo "bench: tarnwick failed" >&2; exit 1; }
}
rclone_first() {
    # pyftpdlib answers a listing of a missing folder with 501, which rclone takes as fatal.
    rm -rf "$work/server/rclone"
    mkdir -p "$work/server/rclone"
    rclone copy --transfers 4 --ftp-host "$server_ip" --ftp-port "$port" --ftp-user bench \
        --ftp-pass "$(rclone obscure bench-password)" "$work/site" :ftp:/rclone >"$work/rclone.log" 2>&1 ||
        { tail -20 "$work/rclone.log" >&2; echo "bench: rclone failed" >&2; exit 1; }
}
lftp_mirror() { # mirror options...
    if [ "$protocol" = sftp ]; then
        # The login starts in the server folder; sshd refuses anything but the key.
        lftp -e "set net:max-retries 1; set sftp:connect-program 'ssh -a -x -F none -i $work/client_key \
-o UserKnownHostsFile=$work/known_hosts -o StrictHostKeyChecking=yes -o BatchMode=yes'; \
mirror -R $* $work/site $work/server/lftp; quit" "sftp://root:@$server_ip:$port" >"$work/lftp.log" 2>&1 ||
            { tail -20 "$work/lftp.log" >&2; echo "bench: lftp failed" >&2; exit 1; }
        return
    fi
    lftp -e "set net:max-retries 1; set ftp:passive-mode on; mirror -R $* $work/site /lftp; quit" \
        -u bench,bench-password "ftp://$server_ip:$port" >"$work/lftp.log" 2>&1 ||
        { tail -20 "$work/lftp.log" >&2; echo "bench: lftp failed" >&2; exit 1; }
}

verify() { # server folder, who
    diff -r "$work/site" "$work/server/$1" >"$work/diff.log" 2>&1 ||
        { head -20 "$work/diff.log" >&2; echo "bench: $2 left a server copy that differs from the site" >&2; exit 1; }
}

# One timed run; prints "seconds commands/file files-sent" and checks what was sent.
measure() { # expected-files command...
    local expected=$1 offset start end
    shift
    offset=$(log_offset)
    start=$(now)
    "$@"
    end=$(now)
    count_since "$offset"
    [ "$stors" -ge "$expected" ] || { echo "bench: $* sent $stors files, $expected expected" >&2; exit 1; }
    [ "$stors" -eq "$expected" ] || echo "bench: note: $* sent $stors files, $expected expected" >&2
    awk -v s="$(elapsed "$start" "$end")" -v c="$cmds" -v n="$stors" 'BEGIN { printf "%.3f %.2f %d\n", s, n ? c / n : 0, n }'
}

# (a) and (c) start from an empty server folder and, for tarnwick, no file list.
tarnwick_first() {
    rm -rf "$work/server/tarnwick" "$work/data" "$work/config"
    write_project
    tarnwick_run
}
lftp_first() {
    rm -rf "$work/server/lftp"
    lftp_mirror "$@"
}

results=$work/results # rtt|scenario|tool|seconds|commands per file
: >"$results"
# A failure inside $(...) given as an argument would go unnoticed; as an assignment it stops.
row() { # rtt scenario tool expected-files command...
    local rtt=$1 scenario=$2 tool=$3 figures seconds per_file sent
    shift 3
    figures=$(measure "$@")
    read -r seconds per_file sent <<<"$figures"
    printf '  %-16s %-9s %8.3f s  %6.2f commands/file  (%d files)\n' "$scenario" "$tool" "$seconds" "$per_file" "$sent"
    echo "    $(cat "$work/verbs")"
    echo "$rtt|$scenario|$tool|$seconds|$per_file" >>"$results"
}

if [ "$protocol" = sftp ]; then
    echo "$files files of $size bytes, $changed changed, median of $repeats; sshd with sftp-server on $server_ip:$port in netns $ns"
else
    echo "$files files of $size bytes, $changed changed, median of $repeats; pyftpdlib on $server_ip:$port in netns $ns, passive"
fi
echo "tarnwick: $program${connections:+ (connections=$connections)}${before:+; before: $before}"
for rtt in $rtts; do
    "$netlab/wire.sh" rtt "$rtt"
    sleep 0.2
    check_wire "$rtt"
    for round in $(seq "$repeats"); do
        echo "rtt $rtt ms, round $round"
        if [ "$rebuild" = 1 ]; then
            for strategy in 3 2; do
                row "$rtt" "first upload" "tarnwick-s$strategy" "$files" tarnwick_first
                rebuild_site
                row "$rtt" "rebuild" "tarnwick-s$strategy" "$([ "$strategy" = 3 ] && echo "$changed" || echo "$files")" \
                    tarnwick_run
                verify tarnwick tarnwick
            done
            row "$rtt" "first upload" lftp-P4 "$files" lftp_first --parallel=4
            rebuild_site
            row "$rtt" "rebuild" lftp-P4 "$files" lftp_mirror --only-newer --parallel=4
            verify lftp lftp
            continue
        fi
        # The older build first and the current one next, each from an empty server folder.
        for tool in ${before:+before} tarnwick; do
            saved=$program
            [ "$tool" = tarnwick ] || program=$before
            row "$rtt" "first upload" "$tool" "$files" tarnwick_first
            verify tarnwick "$tool"
            change_files
            row "$rtt" "$changed changed" "$tool" "$changed" tarnwick_run
            verify tarnwick "$tool"
            row "$rtt" "nothing changed" "$tool" 0 tarnwick_run
            program=$saved
        done
        if [ "$with_rclone" = 1 ] && [ "$protocol" = ftp ]; then
            row "$rtt" "first upload" rclone-T4 "$files" rclone_first
            verify rclone rclone
        fi

        row "$rtt" "first upload" lftp-P4 "$files" lftp_first --parallel=4
        verify lftp lftp
        change_files
        row "$rtt" "$changed changed" lftp-P4 "$changed" lftp_mirror --only-newer --parallel=4
        verify lftp lftp

        if [ "$full" = 1 ]; then
            row "$rtt" "first upload" lftp-P1 "$files" lftp_first --parallel=1
            verify lftp lftp
        fi
    done
done

# Medians per row; ratio = tarnwick / lftp --parallel=4 (above 1: tarnwick is slower).
pick() { # rtt scenario tool field
    awk -F'|' -v r="$1" -v s="$2" -v t="$3" -v f="$4" '$1 == r && $2 == s && $3 == t { print $f }' "$results" | median
}
echo
if [ "$rebuild" = 1 ]; then
    echo "$files files of $size bytes over $protocol rebuilt with $changed real changes; seconds (median of $repeats),"
    echo "ratio = tarnwick comparing contents / lftp -P4 --only-newer (target <= 0.05)"
    printf '%6s %12s %12s %12s %8s\n' "rtt" "contents" "times" "lftp -P4" "ratio"
    for rtt in $rtts; do
        s3=$(pick "$rtt" rebuild tarnwick-s3 4)
        s2=$(pick "$rtt" rebuild tarnwick-s2 4)
        lf=$(pick "$rtt" rebuild lftp-P4 4)
        printf '%3s ms %12.3f %12.3f %12.3f %8.3f\n' "$rtt" "$s3" "$s2" "$lf" \
            "$(awk -v a="$s3" -v b="$lf" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')"
    done
    exit 0
fi
echo "$files files of $size bytes over $protocol; seconds (wall clock, median of $repeats), commands per file sent,"
echo "ratio = tarnwick / lftp -P4 seconds (above 1: tarnwick is slower)"
printf '%6s  %-16s %10s %9s %10s %9s %10s %9s %7s %10s %10s\n' "rtt" "scenario" "before" "cmd/file" "tarnwick" \
    "cmd/file" "lftp -P4" "cmd/file" "ratio" "lftp -P1" "rclone -T4"
for rtt in $rtts; do
    for scenario in "first upload" "$changed changed" "nothing changed"; do
        tw=$(pick "$rtt" "$scenario" tarnwick 4)
        lf=$(pick "$rtt" "$scenario" lftp-P4 4)
        bf=$(pick "$rtt" "$scenario" before 4)
        p1=$(pick "$rtt" "$scenario" lftp-P1 4)
        rc=$(pick "$rtt" "$scenario" rclone-T4 4)
        printf '%3s ms  %-16s %10s %9s %10.3f %9.2f %10s %9s %7s %10s %10s\n' "$rtt" "$scenario" "${bf:--}" \
            "$(pick "$rtt" "$scenario" before 5)" "$tw" "$(pick "$rtt" "$scenario" tarnwick 5)" "${lf:--}" \
            "$(pick "$rtt" "$scenario" lftp-P4 5)" \
            "$(awk -v a="$tw" -v b="$lf" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }')" "${p1:--}" \
            "${rc:--}"
    done
done
