#!/usr/bin/env bash
# run_desktop_session.sh COMMAND [ARG...]: runs COMMAND in a private desktop session of its own
# (temporary HOME and XDG folders, a fresh Xvfb display, a D-Bus session bus, Qt on X11), so it
# runs the same on a developer's desktop and on a CI machine. KESTROVA_SESSION_ROOT names the
# temporary folder, removed afterwards unless KESTROVA_E2E_KEEP is set.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb dbus-run-session; do
    if ! command -v "$tool" >/dev/null; then
        echo "run_desktop_session: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-desktop.XXXXXX")
xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ -z "${KESTROVA_E2E_KEEP:-}" ]; then rm -rf "$root"; else echo "kept $root" >&2; fi
}
trap cleanup EXIT

mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime"
chmod 700 "$root/runtime"

# Xvfb picks a free display itself and writes its number to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$root/display" \
    >"$root/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 200); do
    if [ -s "$root/display" ] && grep -q '^[0-9]' "$root/display"; then break; fi
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "run_desktop_session: Xvfb did not start:" >&2
        cat "$root/xvfb.log" >&2
        exit 1
    fi
    sleep 0.05
done
display=$(head -n1 "$root/display" | tr -dc '0-9')
if [ -z "$display" ]; then
    echo "run_desktop_session: Xvfb gave no display number within 10 s" >&2
    exit 1
fi

# Qt, fontconfig and D-Bus keep a few allocations until exit; a sanitized build reports them
# as leaks unless told they are known.
lsan_supp="$here/../lsan.supp"
export LSAN_OPTIONS="suppressions=$lsan_supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

set +e
env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE -u XDG_CURRENT_DESKTOP \
    -u QT_QPA_PLATFORMTHEME -u SESSION_MANAGER \
    HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
    XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" \
    DISPLAY=":$display" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 KESTROVA_SESSION_ROOT="$root" \
    dbus-run-session -- "$@"
status=$?
set -e
exit $status
