# What the scripts that drive the real program on a virtual display share (sourced):
# a scratch folder that goes with every process they started, a user of their own, the
# display, the main window, screenshots.

work=$(mktemp -d)
pids=()     # ended on exit
app_pid=    # the window's process, ended on exit while set
at_exit=:   # a script's own clean-up
session_cleanup() {
    eval "$at_exit"
    [[ -z $app_pid ]] || kill "$app_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap session_cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

# A user of our own: home, settings and runtime folder in the scratch folder, and no
# session bus (the window's own file panels, whatever portal the desktop has).
scratch_user() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
    unset QT_QPA_PLATFORM
}

# start_display WIDTHxHEIGHT: Xvfb on display $XVFB_DISPLAY if set, else on a free one
# the server picks and names once it is ready.
start_display() {
    if [[ -n ${XVFB_DISPLAY:-} ]]; then
        Xvfb ":$XVFB_DISPLAY" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
        pids+=($!)
        export DISPLAY=:$XVFB_DISPLAY
        for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && return; sleep 0.1; done
    else
        Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
        pids+=($!)
        for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
        export DISPLAY=:$(head -1 "$work/display")
        [[ -s $work/display ]] && return
    fi
    fail "Xvfb did not start"
}

# The main window's id (Qt makes small helper windows of the same name as well).
main_window() {
    for _ in $(seq 200); do
        for id in $(xdotool search --onlyvisible --name 'Lumatra$' 2>/dev/null); do
            local width
            width=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
            if [[ -n $width && $width -ge 800 ]]; then echo "$id"; return; fi
        done
        sleep 0.1
    done
    fail "no window appeared"
}

# wait_until TRIES PAUSE COMMAND…: runs the command until it succeeds, at most TRIES
# times PAUSE seconds apart; fails as the command's last run does.
wait_until() {
    local tries=$1 pause=$2
    shift 2
    for _ in $(seq "$tries"); do "$@" && return; sleep "$pause"; done
    "$@"
}
crop() { import -window root -crop "$1" "$2"; } # GEOMETRY FILE: a part of the screen
changed() { # A B: how many pixels of two pictures differ (beyond 8 %)
    local n
    n=$(compare -metric AE -fuzz 8% "$1" "$2" null: 2>&1 || true)
    echo "${n%% *}"
}

step=0
shot() { # NAME [PAUSE]: a picture of the whole screen in $out
    step=$((step + 1))
    sleep "${2:-0.8}"
    import -window root "$out/$(printf %02d "$step")-$1.png"
}
