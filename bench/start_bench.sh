#!/usr/bin/env bash
# Start-up cost beside lftp, in one sitting: `--version`, and a run of the small sample site
# (examples/site) in which nothing changed, against a pyftpdlib server on 127.0.0.1. lftp does
# the same with `lftp --version` and `mirror -R --only-newer`. Each figure is the median of
# REPEATS runs (default 10), in milliseconds of wall clock; the programs take turns in each
# round so that a busy moment of the machine hits them alike. Run by hand:
#     bench/start_bench.sh
#     BEFORE=/path/to/older/tarnwick bench/start_bench.sh    # adds a column for that build
# TARNWICK names the build to measure (default build/src/app/tarnwick, built when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
repeats=${REPEATS:-10}

command -v lftp >/dev/null || { echo "bench: lftp is not installed (apt-get install lftp)" >&2; exit 1; }
program=${TARNWICK:-$repo/build/src/app/tarnwick}
if [ -z "${TARNWICK:-}" ] && [ ! -x "$program" ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build --target tarnwick >/dev/null
fi
labels=(after)
programs=("$program")
if [ -n "${BEFORE:-}" ]; then
    labels=(before after)
    programs=("$BEFORE" "$program")
fi

. bench/bench_lib.sh
work=$WORK
cp -r examples/site "$work/site"
start_pyftpd
port=$PORT

# One data folder and one server folder per build, so that each keeps its own record.
for index in "${!programs[@]}"; do
    mkdir -p "$work/data$index/Tarnwick" "$work/config$index"
    printf '%s\n' strategy=1 "remote=/t$index" "local=$work/site" '[site]' name=bench "url=127.0.0.1:$port" \
        user=bench pass=bench-password startdir= >"$work/data$index/Tarnwick/bench.ftp"
    chmod 600 "$work/data$index/Tarnwick/bench.ftp"
done

tarnwick_in() { # index arguments...
    local index=$1
    shift
    # A subshell that execs, not env(1): one fork and one exec, as for lftp.
    (
        unset DISPLAY WAYLAND_DISPLAY
        export XDG_DATA_HOME="$work/data$index" XDG_CONFIG_HOME="$work/config$index"
        exec "${programs[index]}" "$@"
    ) >"$work/out" 2>&1 || { cat "$work/out"; echo "bench: tarnwick $* failed" >&2; exit 1; }
}
lftp_mirror() {
    lftp -c "set net:max-retries 1; open -u bench,bench-password -p $port 127.0.0.1; mirror -R --only-newer $work/site /lftp" \
        >"$work/out" 2>&1 || { cat "$work/out"; echo "bench: lftp failed" >&2; exit 1; }
}

# Milliseconds the command took; bash's own clock, so no extra process is timed.
measure() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    local end=$EPOCHREALTIME
    echo "($end - $start) * 1000" | bc -l
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] }'; }

# The first runs send the site; every measured run after them finds nothing changed.
for index in "${!programs[@]}"; do tarnwick_in "$index" bench; done
lftp_mirror
for index in "${!programs[@]}"; do
    tarnwick_in "$index" bench
    ! grep -q '^uploaded ' "$work/out" || { echo "bench: ${labels[index]} uploaded on an unchanged run" >&2; exit 1; }
    diff -r "$work/site" "$work/server/t$index" >/dev/null || { echo "bench: ${labels[index]}'s copy differs" >&2; exit 1; }
done

declare -A times
for _ in $(seq "$repeats"); do
    for index in "${!programs[@]}"; do
        times[version$index]+="$(measure tarnwick_in "$index" --version) "
        times[run$index]+="$(measure tarnwick_in "$index" bench) "
    done
    times[versionl]+="$(measure lftp --version) "
    times[runl]+="$(measure lftp_mirror) "
done

echo "$(find "$work/site" -type f | wc -l) files, median of $repeats runs, milliseconds (wall clock), pyftpdlib on 127.0.0.1"
header=$(printf '%-34s' scenario)
for label in "${labels[@]}"; do header+=$(printf ' %10s' "$label"); done
echo "$header $(printf '%10s' lftp)"
for scenario in version run; do
    [ $scenario = version ] && line=$(printf '%-34s' "--version") || line=$(printf '%-34s' "nothing changed (lftp --only-newer)")
    for index in "${!programs[@]}"; do
        line+=$(printf ' %10s' "$(tr ' ' '\n' <<<"${times[$scenario$index]}" | grep . | median)")
    done
    echo "$line $(printf '%10s' "$(tr ' ' '\n' <<<"${times[${scenario}l]}" | grep . | median)")"
done
