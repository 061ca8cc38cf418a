#!/usr/bin/env bash
# Runs a command inside a private, headless GNOME Shell session on Wayland:
# gnome-shell on a virtual monitor (no Xwayland), its own session bus and an
# empty system bus, its own HOME, runtime folder and dconf database, and
# gsd-media-keys, which runs the custom keybindings. The user's desktop is
# never touched.
#
#   tests/support/gnome_session.sh COMMAND...
#
# As root, the session runs as uid 65534 (the shell should not run as root)
# and COMMAND as root with the session's environment and a runtime folder of
# its own (ctest writes into the build folder); both buses let either in.
# Exits with COMMAND's status.
set -euo pipefail
support="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

dir="$(mktemp -d /tmp/quillet-gnome.XXXXXX)"
chmod 755 "$dir"
mkdir -m 700 "$dir/runtime"
mkdir -p "$dir/home" "$dir/bus/services"
as=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$dir/runtime" "$dir/home"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

pids=()
cleanup() {
    local status=$? i pid
    # gnome-shell's child stuck before exec (see start_shell) goes with it.
    if [ -n "${shell_pid:-}" ]; then
        mapfile -t -O "${#pids[@]}" pids < <(pgrep -P "$shell_pid")
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid="${pids[i]}"
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$status" -ne 0 ]; then
        echo "gnome_session: logs of the session in $dir:" >&2
        tail -n 20 "$dir"/*.log >&2 || true
    else
        rm -rf "$dir"
    fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT

spawn() {  # spawn LOG COMMAND...: as the session's user, until the end
    "${as[@]}" "${@:2}" >>"$dir/$1" 2>&1 &
    pids+=($!)
}

wait_for() {  # wait_for SECONDS COMMAND...: polls; a status of 99 gives up at once
    local deadline=$((SECONDS + $1)) st
    shift
    while :; do
        if "$@" >/dev/null 2>&1; then return 0; else st=$?; fi
        if [ "$st" -eq 99 ] || [ "$SECONDS" -ge "$deadline" ]; then
            echo "gnome_session: gave up waiting for: $*" >&2
            return 1
        fi
        sleep 0.05
    done
}

has_name() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}

export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/.config" \
    XDG_DATA_HOME="$dir/home/.local/share" XDG_CACHE_HOME="$dir/home/.cache" \
    LANG=C.UTF-8 LC_ALL=C.UTF-8
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus" \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system-bus"
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome \
    WAYLAND_DISPLAY=quillet-gnome NO_AT_BRIDGE=1 GTK_A11Y=none QUILLET_GNOME_SESSION=1
unset DISPLAY

# The session bus starts dconf, which gsettings writes through, and nothing
# else the machine has installed.
sed 's|<policy context="default">|&\n    <allow user="*"/>|' \
    "$support/../../scripts/lib/session-bus.conf" >"$dir/bus/session-bus.conf"
ln -s /usr/share/dbus-1/services/ca.desrt.dconf.service "$dir/bus/services/"
# gnome-shell asks logind on the system bus when /run/systemd/seats exists;
# an empty bus answers "no such name", which it takes.
sed -e 's|<type>session</type>|<type>system</type>|' -e '/<servicedir>/d' \
    "$dir/bus/session-bus.conf" >"$dir/bus/system-bus.conf"
spawn system-bus.log dbus-daemon --config-file="$dir/bus/system-bus.conf" --nofork --nopidfile \
    --address="$DBUS_SYSTEM_BUS_ADDRESS"
spawn session-bus.log dbus-daemon --config-file="$dir/bus/session-bus.conf" --nofork --nopidfile \
    --address="$DBUS_SESSION_BUS_ADDRESS"
wait_for 10 test -S "$XDG_RUNTIME_DIR/bus" -a -S "$XDG_RUNTIME_DIR/system-bus"
"${as[@]}" dbus-update-activation-environment --all

"${as[@]}" gsettings set org.gnome.desktop.interface enable-animations false
"${as[@]}" gsettings set org.gnome.desktop.input-sources sources "[('xkb', 'us')]"
"${as[@]}" gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"
# The tests' own extension: the screen-sharing indicator's stop button on the bus.
extension=stop-sharing@quillet.invalid
"${as[@]}" mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
"${as[@]}" cp -r "$support/gnome/$extension" "$XDG_DATA_HOME/gnome-shell/extensions/"
"${as[@]}" gsettings set org.gnome.shell disable-user-extensions false
"${as[@]}" gsettings set org.gnome.shell enabled-extensions "['$extension']"

# GNOME Shell 43 spawns ibus with a callback that runs in the forked child of
# a many-threaded process; now and then that child deadlocks before exec and
# the shell waits for it for ever (about 1 start in 45 here). Such a start is
# ended and made again.
shell_up() { kill -0 "$shell_pid" 2>/dev/null || return 99; "$@"; }
start_shell() {
    spawn shell.log gnome-shell --wayland --headless --no-x11 --virtual-monitor 1280x800 \
        --wayland-display "$WAYLAND_DISPLAY"
    shell_pid="${pids[-1]}"
    wait_for 20 shell_up has_name org.gnome.Mutter.RemoteDesktop &&
        wait_for 20 shell_up grep -q 'GNOME Shell started' "$dir/shell.log"
}
for attempt in 1 2 3; do
    start_shell && break
    echo "gnome_session: the shell's start $attempt failed" >&2
    mapfile -t stuck < <(pgrep -P "$shell_pid")
    kill -KILL "$shell_pid" "${stuck[@]}" 2>/dev/null || true
    wait "$shell_pid" 2>/dev/null || true
    unset 'pids[-1]'
    mv "$dir/shell.log" "$dir/shell-failed-$attempt.log"
    rm -f "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY.lock"
    [ "$attempt" -lt 3 ] || exit 1
done

# The headless seat has no keyboard, so no window has the focus, until a
# virtual one has pressed a key; it also leaves the overview GNOME starts in.
spawn keyboard.log /usr/bin/python3 "$support/gnome/keyboard.py"
wait_for 10 grep -q ready "$dir/keyboard.log"
spawn gsd-media-keys.log /usr/libexec/gsd-media-keys
wait_for 30 has_name org.gnome.SettingsDaemon.MediaKeys

export GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland
if [ ${#as[@]} -gt 0 ]; then
    # A runtime folder of root's own (Qt wants its owner), the compositor by path.
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" XDG_RUNTIME_DIR="$dir/runtime-root"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    # dconf's readers learn there that the settings changed.
    ln -s "$dir/runtime/dconf" "$XDG_RUNTIME_DIR/dconf"
fi
"$@"
