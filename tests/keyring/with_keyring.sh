#!/usr/bin/env bash
# Runs a command on a session bus of its own that offers a throw-away, unlocked keyring, in a
# temporary home, so no real keyring and no real project is ever touched.
# Exit 77 (a skip for CTest) when the bus or the keyring daemon is not installed.
set -euo pipefail
for tool in dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed (Debian: dbus, gnome-keyring)"
        exit 77
    fi
done
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
export XDG_RUNTIME_DIR=$home/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Windowless: nothing may open a prompt or start a bus of its own on a display.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
# The daemon unlocks (and first creates) the default collection with the password read from
# standard input; the bus starts the secrets part of it on first use and it ends with the bus.
timeout 300 dbus-run-session -- bash -c '
    printf %s throwaway | timeout 20 gnome-keyring-daemon --unlock --components=secrets >"$HOME/keyring.log" 2>&1
    "$@"' with_keyring "$@"
