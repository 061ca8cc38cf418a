# Shell helpers for the scripts that run Quillet on a private virtual X server
# (demo, screenshots): the server, a tray host, finding Quillet's windows and
# taking pictures of them; and on a private headless sway for the Wayland
# tests. Source it; it sets up its own cleanup trap.
#
# After `session_start WIDTHxHEIGHT`: $session is a private folder, DISPLAY,
# XDG_CONFIG_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR point into it,
# DBUS_SESSION_BUS_ADDRESS names a bus of its own, and every process started
# with `session_spawn` is ended when the script exits, the last started first.
#
# Every bus started here can start no service of the machine's (see
# session-bus.conf): a notification daemon or portal installed on the machine
# would otherwise take what Quillet shows, or choose its route.
#
# After `wayland_session_start KEYBOARD`: a headless sway with a session bus
# of its own and KEYBOARD (a program that keeps a virtual keyboard on the
# seat) runs in $wl_session, and `in_wayland COMMAND...` runs a command there,
# with DISPLAY naming sway's Xwayland, as sway's own children have it.

session_bus_config="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/session-bus.conf"

session_pids=()
alive() { [ -e "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
session_cleanup() {
    # Clients before the servers they use: a program whose X server went first
    # says so, after the script's verdict.
    local i pid
    for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
        pid="${session_pids[i]}"
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 100); do alive "$pid" || break; sleep 0.05; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    [ -n "${session:-}" ] && rm -rf "$session"
    [ -n "${wl_session:-}" ] && rm -rf "$wl_session"
    return 0
}
trap session_cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "$(basename "$0"): timed out waiting for: $*" >&2
            return 1
        fi
        sleep 0.05
    done
}

session_spawn() {  # session_spawn COMMAND...: runs it in the background until the script ends
    "$@" &
    session_pids+=($!)
}

session_start() {  # session_start WIDTHxHEIGHT
    session="$(mktemp -d)"
    screen_size="$1"
    mkdir -m 700 "$session/runtime" "$session/config" "$session/state"
    export XDG_RUNTIME_DIR="$session/runtime" XDG_CONFIG_HOME="$session/config" \
        XDG_STATE_HOME="$session/state"
    # "auto" follows the system language: English unless the menu says otherwise.
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
    unset LANGUAGE WAYLAND_DISPLAY
    exec 3> "$session/display"
    # Xvfb tries display numbers until one is free and says so for each taken one.
    # -noreset: a server that resets when its last client leaves refuses the next one for a moment.
    session_spawn Xvfb -displayfd 3 -screen 0 "${screen_size}x24" -nolisten tcp -noreset \
        >"$session/xvfb.log" 2>&1
    exec 3>&-
    wait_for 10 test -s "$session/display"
    export DISPLAY=":$(cat "$session/display")"
    session_spawn dbus-daemon --config-file="$session_bus_config" --nofork --nopidfile \
        --address="unix:path=$session/runtime/bus" >"$session/dbus.log" 2>&1
    wait_for 10 test -S "$session/runtime/bus"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$session/runtime/bus"
}

session_desktop() {  # a calm desktop colour and a tray host at the top right
    convert -size "$screen_size" xc:'#5b6b7b' "$session/desktop.png"
    # display keeps the picture as the root's background only while it runs:
    # the long delay between two copies of it keeps it running.
    session_spawn display -window root -delay 100000 "$session/desktop.png" "$session/desktop.png" \
        >/dev/null 2>&1
    session_spawn trayer --edge top --align right --widthtype request --height 32 \
        --SetDockType true --transparent false >/dev/null 2>&1
    wait_for 10 xdotool search --classname trayer >/dev/null
}

session_store_shortcut() {  # a stored shortcut, so that no first-run dialog opens
    mkdir -p "$XDG_CONFIG_HOME/tarnwick"
    printf '[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\n' > "$XDG_CONFIG_HOME/tarnwick/Quillet.conf"
}

windows() {  # windows PID: its mapped windows, one "id x y width height name" a line
    local id X Y WIDTH HEIGHT
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        echo "$id $X $Y $WIDTH $HEIGHT $(xdotool getwindowname "$id")"
    done
}

has_window() {  # has_window PID NAME: a window of that name, bigger than a tray icon
    windows "$1" | awk -v name="$2" '{ n = $6; for (i = 7; i <= NF; i++) n = n " " $i }
        n == name && ($4 > 48 || $5 > 48) { found = 1 } END { exit !found }'
}

tray_icon() {  # tray_icon PID: the centre of its tray icon
    windows "$1" | awk '$4 <= 48 && $5 <= 48 && $3 < 48 { print $2 + int($4 / 2), $3 + int($5 / 2); exit }'
}

has_tray_icon() { [ -n "$(tray_icon "$1")" ]; }

open_tray_menu() {  # open_tray_menu PID TITLE: clicks the icon and waits for the menu
    wait_for 10 has_tray_icon "$1"
    # shellcheck disable=SC2046
    xdotool mousemove $(tray_icon "$1") click 1
    wait_for 10 has_window "$1" "$2"
}

shoot() {  # shoot FILE PID [NAME]: the screen around PID's windows (or the one named NAME)
    sleep 0.3  # lets the windows finish painting
    import -window root "$session/screen.png"
    local box
    box="$(windows "$2" | awk -v m=14 -v name="${3:-}" -v size="$screen_size" '
        BEGIN { split(size, s, "x") }
        { n = $6; for (i = 7; i <= NF; i++) n = n " " $i }
        name != "" && (n != name || ($4 <= 48 && $5 <= 48)) { next }
        !seen++ { x0 = $2; y0 = $3; x1 = $2 + $4; y1 = $3 + $5 }
        $2 < x0 { x0 = $2 }
        $3 < y0 { y0 = $3 }
        $2 + $4 > x1 { x1 = $2 + $4 }
        $3 + $5 > y1 { y1 = $3 + $5 }
        END {
            x0 -= m; y0 -= m; x1 += m; y1 += m
            if (x0 < 0) x0 = 0; if (y0 < 0) y0 = 0; if (x1 > s[1]) x1 = s[1]; if (y1 > s[2]) y1 = s[2]
            printf "%dx%d+%d+%d", x1 - x0, y1 - y0, x0, y0
        }')"
    convert "$session/screen.png" -crop "$box" +repage "$1"
}

# sway will not run as root: as root, the Wayland session belongs to nobody.
wl_user="$(id -u)"
wl_as=()
if [ "$wl_user" -eq 0 ]; then
    wl_user=65534
    wl_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

in_wayland() {  # in_wayland COMMAND...: runs it as the session's user, in the session
    "${wl_as[@]}" env "${wl_env[@]}" "$@"
}

wayland_spawn() {  # wayland_spawn COMMAND...: in the session, until the script ends
    # Not through in_wayland: the process started must be the one ended.
    session_spawn "${wl_as[@]}" env "${wl_env[@]}" "$@"
}

wayland_session_start() {  # wayland_session_start KEYBOARD
    wl_session="$(mktemp -d)"
    chmod 755 "$wl_session"
    mkdir -m 700 "$wl_session/runtime"
    mkdir "$wl_session/home"
    chown "$wl_user" "$wl_session/runtime" "$wl_session/home"
    wl_env=(-u DISPLAY HOME="$wl_session/home" XDG_RUNTIME_DIR="$wl_session/runtime"
        DBUS_SESSION_BUS_ADDRESS="unix:path=$wl_session/runtime/bus" LC_ALL=C.UTF-8)
    # Xwayland starts with the first X client; sway tells its own children
    # the display it took, the first free one.
    printf '%s\n' 'output HEADLESS-1 resolution 1280x720' 'xwayland enable' \
        'default_border none' >"$wl_session/sway.conf"
    wayland_spawn dbus-daemon --config-file="$session_bus_config" --nofork --nopidfile \
        --address="unix:path=$wl_session/runtime/bus" >"$wl_session/dbus.log" 2>&1
    wait_for 10 test -S "$wl_session/runtime/bus"
    wayland_spawn WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway -c "$wl_session/sway.conf" >"$wl_session/sway.log" 2>&1
    wait_for 10 compgen -G "$wl_session/runtime/sway-ipc.*.sock" >/dev/null
    wl_env+=(SWAYSOCK="$(compgen -G "$wl_session/runtime/sway-ipc.*.sock")")
    wl_env+=(WAYLAND_DISPLAY="$(cd "$wl_session/runtime" && compgen -G 'wayland-?' | head -1)")
    # X11 programs reach Xwayland on the display sway gives its children.
    in_wayland swaymsg -q exec "printenv DISPLAY >$wl_session/runtime/display"
    wait_for 10 test -s "$wl_session/runtime/display"
    wl_env+=(DISPLAY="$(cat "$wl_session/runtime/display")")
    # The seat has no keyboard until a virtual one exists; this one stays.
    wayland_spawn "$1" >"$wl_session/keyboard.log" 2>&1
    wait_for 10 grep -q ready "$wl_session/keyboard.log"
}
