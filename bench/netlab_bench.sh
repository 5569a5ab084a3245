#!/usr/bin/env bash
# Upload runs over a real round-trip time (../shared/netlab), beside lftp doing the same job:
#   first upload of the whole site     - tarnwick NAME  vs  lftp mirror -R --parallel=4
#   CHANGED files rewritten since then - tarnwick NAME  vs  lftp mirror -R --only-newer --parallel=4
#   FULL=1 adds lftp mirror -R over one connection (slow at a real round trip).
# On loopback a command costs nothing, so only a round trip shows what a user on shared hosting
# waits for; the server counts the commands each run sends, which is what the wait is made of.
#
#   sudo bench/netlab_bench.sh
#
# Environment: RTTS ("20 50", ms), FILES (1000), SIZE (4096 bytes), CHANGED (10), REPEATS (1,
# median of), TARNWICK (build/src/app/tarnwick), CONNECTIONS (unset: the program's default),
# FULL (0), NETLAB (../shared/netlab). NS and NET are passed on to wire.sh. Needs root for the
# namespace. Run by hand only, never in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
netlab=${NETLAB:-$repo/../shared/netlab}
rtts=${RTTS:-20 50}
files=${FILES:-1000}
size=${SIZE:-4096}
changed=${CHANGED:-10}
repeats=${REPEATS:-1}
program=${TARNWICK:-$repo/build/src/app/tarnwick}
connections=${CONNECTIONS:-}
full=${FULL:-0}
ns=${NS:-twlat}
# wire.sh keeps the delay line's pid there: a wire of another name must not share it.
export WIRE_DIR=${WIRE_DIR:-${TMPDIR:-/tmp}/$ns-wire}
server_ip=${NET:-10.77.0}.2
python=/usr/bin/python3

[ "$(id -u)" = 0 ] || { echo "bench: netlab needs root" >&2; exit 1; }
[ -x "$netlab/wire.sh" ] || { echo "bench: no netlab at $netlab" >&2; exit 1; }
[ -x "$program" ] || { echo "bench: no tarnwick at $program (build it, or set TARNWICK)" >&2; exit 1; }
command -v lftp >/dev/null || { echo "bench: lftp is not installed (apt-get install lftp)" >&2; exit 1; }
command -v curl >/dev/null || { echo "bench: curl is needed to check the wire" >&2; exit 1; }
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
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    [ -z "$wire_up" ] || "$netlab/wire.sh" down >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# The site: FILES files of SIZE random bytes, in ten folders with subfolders beneath. The files
# to change are spread over the tree so that a run cannot get away with one folder's listing.
"$python" - "$work/site" "$files" "$size" "$changed" "$work/changed.list" <<'PY'
import os, sys
root, count, size, changed, changed_list = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
paths = []
for i in range(count):
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

# DEBUG makes pyftpdlib write every command line it receives ("<- CMD"), the figure counted.
mkdir -p "$work/server"
"$netlab/wire.sh" exec "$python" "$repo/bench/pyftpd_server.py" "$work/server" "$server_ip" "$work/port" \
    "$work/server.log" >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { cat "$work/server.out"; echo "bench: the FTP server did not start" >&2; exit 1; }
port=$(cat "$work/port")

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
    start=$(now)
    curl -s -o /dev/null --max-time 30 -u bench:bench-password "ftp://$server_ip:$port/" || { echo "bench: curl listing failed" >&2; exit 1; }
    listing=$(elapsed "$start" "$(now)")
    echo "wire: asked $1 ms; TCP handshake $handshake ms; curl listing $listing s (~10 round trips)"
    awk -v h="$handshake" -v r="$1" 'BEGIN { exit !(h >= 0.9 * r && h <= 1.5 * r + 5) }' ||
        { echo "bench: the measured round trip ($handshake ms) is not the one asked for ($1 ms)" >&2; exit 1; }
}

write_project() {
    mkdir -p "$work/data/Tarnwick" "$work/config"
    {
        cat <<EOF
strategy=2
remote=/tarnwick
local=$work/site
[site]
name=bench
url=$server_ip:$port
user=bench
pass=bench-password
startdir=
EOF
        [ -z "$connections" ] || echo "connections=$connections"
    } >"$work/data/Tarnwick/bench.ftp"
}

# Commands and uploads the server saw since log offset $1; sets cmds and stors, and leaves the
# count per command in $work/verbs, which says where the round trips went.
count_since() {
    # The log is written as each line arrives; the QUIT of the last connection may still be on
    # the wire when the client returns.
    sleep 0.3
    tail -c +"$(($1 + 1))" "$work/server.log" | grep ' <- ' >"$work/commands" || true
    cmds=$(wc -l <"$work/commands")
    stors=$(grep -Ec ' <- (STOR|APPE|STOU) ' "$work/commands" || true)
    awk '{ for (i = 1; i < NF; i++) if ($i == "<-") { n[toupper($(i + 1))]++; break } }
        END { for (v in n) print n[v], v }' "$work/commands" | sort -k1,1nr -k2 |
        awk '{ printf "%s%s %d", (NR > 1 ? ", " : ""), $2, $1 }' >"$work/verbs"
}
log_offset() { stat -c %s "$work/server.log" 2>/dev/null || echo 0; }

tarnwick_run() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        "$program" bench >"$work/tarnwick.log" 2>&1 || { tail -20 "$work/tarnwick.log" >&2; echo "bench: tarnwick failed" >&2; exit 1; }
}
lftp_mirror() { # mirror options...
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

echo "$files files of $size bytes, $changed changed, median of $repeats; pyftpdlib on $server_ip:$port in netns $ns, passive"
echo "tarnwick: $program${connections:+ (connections=$connections)}"
for rtt in $rtts; do
    "$netlab/wire.sh" rtt "$rtt"
    sleep 0.2
    check_wire "$rtt"
    for round in $(seq "$repeats"); do
        echo "rtt $rtt ms, round $round"
        row "$rtt" "first upload" tarnwick "$files" tarnwick_first
        verify tarnwick tarnwick
        change_files
        row "$rtt" "$changed changed" tarnwick "$changed" tarnwick_run
        verify tarnwick tarnwick

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
echo "$files files of $size bytes; seconds (wall clock, median of $repeats), commands per file sent,"
echo "ratio = tarnwick / lftp -P4 seconds (above 1: tarnwick is slower)"
printf '%6s  %-16s %10s %9s %10s %9s %7s %10s\n' "rtt" "scenario" "tarnwick" "cmd/file" "lftp -P4" "cmd/file" "ratio" "lftp -P1"
for rtt in $rtts; do
    for scenario in "first upload" "$changed changed"; do
        tw=$(pick "$rtt" "$scenario" tarnwick 4)
        lf=$(pick "$rtt" "$scenario" lftp-P4 4)
        p1=$(pick "$rtt" "$scenario" lftp-P1 4)
        printf '%3s ms  %-16s %10.3f %9.2f %10.3f %9.2f %7.2f %10s\n' "$rtt" "$scenario" \
            "$tw" "$(pick "$rtt" "$scenario" tarnwick 5)" "$lf" "$(pick "$rtt" "$scenario" lftp-P4 5)" \
            "$(awk -v a="$tw" -v b="$lf" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" "${p1:--}"
    done
done
