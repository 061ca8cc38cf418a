#!/usr/bin/env bash
# Runs a command inside a private, headless KDE Plasma session: its own D-Bus
# session bus, kwin_wayland on a virtual output, xdg-desktop-portal with the
# KDE backend. Settings, runtime files and the compositor are the session's
# alone; the user's desktop is never touched. The keyboard layout is French
# BÉPO: V sits on another key than on a US keyboard, so a paste that reaches
# a window shows that the V key followed the layout, and é, è, à are keys of
# their own.
#
#   tests/support/kde_session.sh COMMAND...
#
# Works as root (as CI runs) and as an ordinary user.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    dir="$(mktemp -d /tmp/quillet-kde.XXXXXX)"
    # The document portal's FUSE mount in the runtime folder goes away a
    # moment after the bus does.
    trap 'for _ in $(seq 50); do umount "$dir/runtime/doc" 2>/dev/null || true; rm -rf "$dir" 2>/dev/null && break; sleep 0.1; done' EXIT
    mkdir -m 700 "$dir/runtime"
    mkdir "$dir/config"
    printf '[Layout]\nLayoutList=fr\nVariantList=bepo\nUse=true\n' > "$dir/config/kxkbrc"
    # kwin_wayland carries file capabilities that a container may refuse to
    # exec; a copy has none, and must keep the name: KWin picks its own
    # platform plugin by it.
    cp /usr/bin/kwin_wayland "$dir/kwin_wayland"
    # The session's bus starts the portal, its KDE backend and what they use,
    # and nothing else the machine has installed (no notification daemon, no
    # portal of another desktop).
    mkdir -p "$dir/bus/services"
    cp "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/session-bus.conf" "$dir/bus/"
    for service in org.freedesktop.portal.Desktop org.freedesktop.impl.portal.desktop.kde \
        org.freedesktop.impl.portal.PermissionStore org.freedesktop.portal.Documents \
        org.kde.kglobalaccel; do
        if [ -f "/usr/share/dbus-1/services/$service.service" ]; then
            ln -s "/usr/share/dbus-1/services/$service.service" "$dir/bus/services/"
        fi
    done
    status=0
    # The bus and the services it starts write to session.log; the command
    # keeps this script's standard error (as descriptor 3 on the way in).
    env HOME="$dir" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
        dbus-run-session --config-file="$dir/bus/session-bus.conf" -- "$0" --inside "$dir" "$@" 3>&2 2>"$dir/session.log" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "kde_session: logs of the session:" >&2
        tail -n 20 "$dir"/*.log >&2 || true
    fi
    exit "$status"
fi

dir="$2"
shift 2
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KDE_FULL_SESSION=true
export WAYLAND_DISPLAY=quillet-kde QT_QPA_PLATFORM=wayland QUILLET_KDE_SESSION=1
unset DISPLAY

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "kde_session: timed out waiting for: $*" >&2
            return 1
        fi
        sleep 0.1
    done
}

"$dir/kwin_wayland" --virtual --no-lockscreen --socket "$WAYLAND_DISPLAY" \
    --width 1280 --height 720 >"$dir/kwin.log" 2>&1 &
pids+=($!)
wait_for 30 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
# Portals that D-Bus starts on demand must find the compositor too.
dbus-update-activation-environment --all >/dev/null 2>&1

# Starts xdg-desktop-portal, which starts its KDE backend, and waits until it answers.
wait_for 30 gdbus call --session --dest org.freedesktop.portal.Desktop \
    --object-path /org/freedesktop/portal/desktop \
    --method org.freedesktop.DBus.Properties.Get org.freedesktop.portal.GlobalShortcuts version

"$@" 2>&3
