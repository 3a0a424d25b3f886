#!/usr/bin/env bash
# Builds the program and starts it. With no serial adapter plugged in, it also
# starts the virtual supply and says which port to type into the port box.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/ensure-packages.sh"
ensure_packages "${BUILD_PACKAGES[@]}"

# Started with sudo (as before: it is no longer needed, see ensure-packages.sh):
# build and run as the user, who owns the display and the working tree.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    exec sudo -u "$SUDO_USER" --preserve-env=DISPLAY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,XAUTHORITY "$0" "$@"
fi

build="$top/build"
# The test script's build type: running after testing rebuilds nothing.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target velkaro virtual-supply -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: the window runs on the offscreen platform (nothing is shown)."
    export QT_QPA_PLATFORM=offscreen
fi

supply_pid=
cleanup() { [ -n "$supply_pid" ] && kill "$supply_pid" 2>/dev/null || true; }
trap cleanup EXIT

if ! compgen -G "/dev/ttyUSB*" >/dev/null && ! compgen -G "/dev/ttyACM*" >/dev/null; then
    link="${XDG_RUNTIME_DIR:-/tmp}/velkaro-virtual-supply"
    out=$(mktemp)
    "$build/sim/virtual-supply" --link "$link" --pace >"$out" &
    supply_pid=$!
    pty=
    for _ in $(seq 50); do
        pty=$(head -n 1 "$out")
        [ -n "$pty" ] && break
        # It has already said why on the standard error.
        if ! kill -0 "$supply_pid" 2>/dev/null; then
            status=0
            wait "$supply_pid" || status=$?
            supply_pid=
            rm -f "$out"
            echo "The virtual supply did not start (exit status $status); see its message above." >&2
            exit 1
        fi
        sleep 0.1
    done
    rm -f "$out"
    if [ -z "$pty" ]; then
        echo "The virtual supply did not report its port within 5 seconds." >&2
        exit 1
    fi
    echo
    echo "No supply adapter found: the virtual supply is serving at address 0 on $pty."
    echo "Type $link into the port box on the tool bar, then press Подключить (connect)."
    echo
fi

# The link's trace of every exchange would flood the terminal; the program
# keeps the file bounded (a new one at 10 MB, the one before it kept as .1).
trace="$build/velkaro-trace.log"
echo "The link's trace goes to $trace (at most 10 MB, the older part in $trace.1)."
VELKARO_TRACE_FILE="$trace" "$build/app/velkaro"
