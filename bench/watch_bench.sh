#!/usr/bin/env bash
# A one-file save in a large site: how long from the write until the file is live on the
# server, under `tarnwick --watch` and by a normal run (which scans the whole tree), for a
# small and a large site. The watch path should not grow with the site; the run's does.
#   SIZES="1000 100000" REPEATS=3 bench/watch_bench.sh
# pyftpdlib on 127.0.0.1. The record is written directly (the bench measures detection,
# not the first upload of 100,000 files).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
repeats=${REPEATS:-3}
sizes=${SIZES:-1000 100000}

build=${TARNWICK_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tarnwick >/dev/null
program=$repo/$build/src/app/tarnwick

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
server_pid= watch_pid=
cleanup() {
    for pid in $watch_pid $server_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/server" "$work/config"
/usr/bin/python3 "$repo/bench/pyftpd_server.py" "$work/server" 127.0.0.1 "$work/port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "bench: the FTP server did not start" >&2; exit 1; }
port=$(cat "$work/port")

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
tarnwick() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" "$program" "$@"
}
# Seconds from now until $1 exists (bounded: 120 s).
until_exists() {
    /usr/bin/python3 - "$1" <<'PY'
import os, sys, time
start = time.monotonic()
while not os.path.exists(sys.argv[1]) and time.monotonic() - start < 120:
    time.sleep(0.002)
print("%.3f" % (time.monotonic() - start))
PY
}

printf '%-10s %22s %22s\n' "files" "watch: save -> live" "run: save -> live"
for files in $sizes; do
    rm -rf "$work/site" "$work/data" "$work/server/w"
    mkdir -p "$work/data/Tarnwick"
    # The site and a record that says all of it is on the server already.
    /usr/bin/python3 - "$work/site" "$files" "$work/data/Tarnwick/w.ftp.txt" <<'PY'
import os, sys
root, count, listfile = sys.argv[1], int(sys.argv[2]), sys.argv[3]
lines = []
for i in range(count):
    folder = os.path.join(root, "d%d" % (i % 100), "e%d" % (i % 7))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "f%06d.html" % i)
    with open(path, "w") as out:
        out.write("page %d\n" % i)
    st = os.stat(path)
    lines.append("%s=%d.%09d %d\n" % (path, st.st_mtime_ns // 10**9, st.st_mtime_ns % 10**9, st.st_size))
with open(listfile, "w") as out:
    out.writelines(lines)
PY
    cat >"$work/data/Tarnwick/w.ftp" <<EOF
strategy=2
remote=/w
local=$work/site
[site]
name=bench
url=127.0.0.1:$port
user=bench
pass=bench-password
startdir=
EOF
    tarnwick -q w >/dev/null 2>&1 || true # makes /w; nothing else is due
    watched=() scanned=()
    for round in $(seq "$repeats"); do
        env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
            "$program" --watch w >"$work/watch.log" 2>&1 &
        watch_pid=$! # the program itself, so that the kill below reaches it
        for _ in $(seq 1200); do grep -q " in [0-9.]* s" "$work/watch.log" && break; sleep 0.1; done
        sleep 0.5
        echo "saved $round" >"$work/site/d5/e3/watched$round.html"
        watched+=("$(until_exists "$work/server/w/d5/e3/watched$round.html")")
        kill "$watch_pid"; wait "$watch_pid" 2>/dev/null || true; watch_pid=

        start=$(date +%s.%N)
        echo "saved $round" >"$work/site/d5/e3/scanned$round.html"
        tarnwick -q w >/dev/null 2>&1
        end=$(date +%s.%N)
        [ -e "$work/server/w/d5/e3/scanned$round.html" ] || { echo "bench: the run did not send the file" >&2; exit 1; }
        scanned+=("$(echo "$end - $start" | bc)")
    done
    printf '%-10s %22.3f %22.3f\n' "$files" "$(printf '%s\n' "${watched[@]}" | median)" \
        "$(printf '%s\n' "${scanned[@]}" | median)"
done
echo "median of $repeats; the watch waits for a second of quiet before it sends (the settle time)"
