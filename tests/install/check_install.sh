#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and man(1) will read:
# the desktop entry validates, both manual pages render without a warning, the icon is there
# in every size, the installed program answers --version and starts the desktop program.
#     check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

"$prefix/bin/tarnwick" --version | grep -q '^tarnwick ' || fail "installed program does not answer --version"
# The command program stays free of Qt; a window request reaches the desktop program through
# the installed layout (it keeps running; a missing one ends at once with 127).
readelf -d "$prefix/bin/tarnwick" | grep NEEDED | grep -q libQt && fail "the installed tarnwick links Qt"
if [ -e "$build/src/app/tarnwick-desktop" ]; then
    [ -x "$prefix/libexec/tarnwick/tarnwick-desktop" ] || fail "no desktop program in libexec/tarnwick"
    status=0
    env -i PATH=/usr/bin:/bin HOME="$prefix/home" XDG_DATA_HOME="$prefix/home/data" XDG_RUNTIME_DIR="$prefix" \
        DISPLAY=:99 QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/tarnwick" >"$prefix/desktop.log" 2>&1 || status=$?
    [ $status -eq 124 ] || fail "the installed desktop application ended with $status: $(cat "$prefix/desktop.log")"
fi

desktop="$prefix/share/applications/tarnwick.desktop"
if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
    grep -q '^Icon=tarnwick$' "$desktop" || fail "desktop entry names another icon"
else
    fail "no desktop entry"
fi

for size in 16 22 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/tarnwick.png"
    file -b "$png" 2>/dev/null | grep -q "PNG image data, $size x $size" || fail "icon $png is not a ${size}px PNG"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/tarnwick.svg" ] || fail "no scalable icon"

for page in "$prefix/share/man/man1/tarnwick.1" "$prefix/share/man/de/man1/tarnwick.1"; do
    [ -f "$page" ] || { fail "no manual page $page"; continue; }
    warnings=$(MANWIDTH=80 man --warnings -l -E UTF-8 "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports for $page: $warnings"
done
for section in SYNOPSIS OPTIONS "EXIT STATUS" FILES EXAMPLES; do
    grep -q "^\.SH $section" "$prefix/share/man/man1/tarnwick.1" || fail "the manual page has no $section section"
done

[ $failures -eq 0 ] && echo "installation checks passed in $prefix"
exit $((failures > 0))
