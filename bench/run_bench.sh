#!/usr/bin/env bash
# Upload run timings against a local pyftpdlib server, beside lftp doing the same job:
#   first upload of a 1,000-file site  - tarnwick NAME  vs  lftp mirror -R (one connection)
#   nothing changed since the last run - tarnwick NAME  vs  lftp mirror -R --only-newer
# tarnwick decides from local state alone; lftp has to list the server to decide.
# Each figure is the median of REPEATS runs (default 3). Loopback only: the server's own work
# per command is what shows, so each measured run gets a server process of its own (one
# pyftpdlib process slows down run after run) and its processor time is printed beside the wall
# clock. Files the server writes to disk wait on the disk's writeback, which moves figures by
# tens of percent from run to run; TMPDIR=/dev/shm keeps the whole sitting in memory.
# Environment: FILES (1000), SIZE (unset: sizes from empty to 300 kB; N: every file N bytes),
# FOLDERS (0: ten folders with subfolders beneath; N: N flat folders), PARALLEL (1: lftp's
# connections), PASSIVE (0: lftp in active mode; 1: passive, as tarnwick by default).
#   TMPDIR=/dev/shm FILES=10000 SIZE=2048 FOLDERS=100 PARALLEL=4 PASSIVE=1 bench/run_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
repeats=${REPEATS:-3}
files=${FILES:-1000}
size=${SIZE:-}
folders=${FOLDERS:-0}
parallel=${PARALLEL:-1}
passive=${PASSIVE:-0}

command -v lftp >/dev/null || { echo "bench: lftp is not installed (apt-get install lftp)" >&2; exit 1; }
# TARNWICK names another binary (an older build, to compare in one sitting).
if [ -n "${TARNWICK:-}" ]; then
    program=$TARNWICK
else
    build=${TARNWICK_BUILD_DIR:-build}
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target tarnwick >/dev/null
    program=$repo/$build/src/app/tarnwick
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

# The site: nested folders, sizes from empty to a few hundred kilobytes.
/usr/bin/python3 - "$work/site" "$files" "$size" "$folders" <<'PY'
import os, random, sys
root, count, fixed, flat = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
rng = random.Random(7)
for i in range(count):
    if flat:
        folder = os.path.join(root, "d%03d" % (i % flat))
    else:
        folder = os.path.join(root, "s%d" % (i % 10), "p%d" % (i % 7)) if i % 3 else os.path.join(root, "s%d" % (i % 10))
    os.makedirs(folder, exist_ok=True)
    if fixed:
        size = int(fixed)
    else:
        size = 0 if i % 50 == 0 else (300000 if i % 97 == 0 else rng.randrange(200, 20000))
    with open(os.path.join(folder, "f%04d.html" % i), "wb") as out:
        out.write(rng.randbytes(size))
PY

mkdir -p "$work/server" "$work/data/Tarnwick" "$work/config"
port= server_ticks=
start_server() {
    rm -f "$work/port"
    /usr/bin/python3 "$repo/bench/pyftpd_server.py" "$work/server" 127.0.0.1 "$work/port" >"$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
    [ -s "$work/port" ] || { cat "$work/server.log"; echo "bench: the FTP server did not start" >&2; exit 1; }
    port=$(cat "$work/port")
    server_ticks=$(awk '{ print $14 + $15 }' "/proc/$server_pid/stat")
    cat >"$work/data/Tarnwick/bench.ftp" <<EOF
strategy=1
remote=/tarnwick
local=$work/site
[site]
name=bench
url=127.0.0.1:$port
user=bench
pass=bench-password
startdir=
EOF
}
# Prints the processor seconds the server spent since it listened, and stops it.
stop_server() {
    local ticks
    ticks=$(($(awk '{ print $14 + $15 }' "/proc/$server_pid/stat") - server_ticks))
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=
    echo "$ticks / $(getconf CLK_TCK)" | bc -l
}

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

lftp_passive=off
[ "$passive" = 0 ] || lftp_passive=on
lftp_mode="active mode"
[ "$passive" = 0 ] || lftp_mode="passive mode"

tarnwick_run() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        "$program" bench >"$work/tarnwick.log" 2>&1 || { tail -20 "$work/tarnwick.log"; echo "bench: tarnwick failed" >&2; exit 1; }
}
tarnwick_forget() {
    rm -rf "$work/server/tarnwick" "$work/data/Tarnwick/bench.ftp.txt" "$work/data/Tarnwick/archive.marks"
}
lftp_mirror() {
    lftp -u bench,bench-password -p "$port" -e "set ftp:passive-mode $lftp_passive; set net:max-retries 1; mirror -R $1 --parallel=$parallel $work/site /lftp; quit" \
        127.0.0.1 >"$work/lftp.log" 2>&1 || { tail -20 "$work/lftp.log"; echo "bench: lftp failed" >&2; exit 1; }
}

# Appends "wall server" seconds of one run of the command to the named array.
measure() { # array command...
    local -n into=$1
    shift
    local start end
    start_server
    start=$(now)
    "$@"
    end=$(now)
    into+=("$(elapsed "$start" "$end") $(stop_server)")
}

first_t=() first_l=() same_t=() same_l=()
for round in $(seq "$repeats"); do
    tarnwick_forget
    measure first_t tarnwick_run
    grep -c '^uploaded ' "$work/tarnwick.log" | grep -qx "$files" || { echo "bench: tarnwick did not upload every file" >&2; exit 1; }
    measure same_t tarnwick_run
    ! grep -q '^uploaded ' "$work/tarnwick.log" || { echo "bench: tarnwick uploaded on the unchanged run" >&2; exit 1; }

    rm -rf "$work/server/lftp"
    measure first_l lftp_mirror ""
    measure same_l lftp_mirror --only-newer
done
diff -r "$work/site" "$work/server/tarnwick" >/dev/null || { echo "bench: tarnwick's copy differs" >&2; exit 1; }
diff -r "$work/site" "$work/server/lftp" >/dev/null || { echo "bench: lftp's copy differs" >&2; exit 1; }

# The run with the median wall time, with the server time of that same run.
pick() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'; }
echo "$files files, median of $repeats runs, seconds: wall clock (server processor), pyftpdlib on 127.0.0.1"
echo "tarnwick with its defaults (passive mode); lftp in $lftp_mode, --parallel=$parallel"
row() { # label tarnwick-pair lftp-pair
    printf '%-32s %8.3f (%6.3f) %8.3f (%6.3f)\n' "$1" $2 $3
}
printf '%-32s %17s %17s\n' "scenario" "tarnwick" "lftp"
row "first upload" "$(pick "${first_t[@]}")" "$(pick "${first_l[@]}")"
row "nothing changed (--only-newer)" "$(pick "${same_t[@]}")" "$(pick "${same_l[@]}")"
