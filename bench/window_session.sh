# What the window benchmarks add to tests/desktop/session.sh (sourced after it): the
# window on a batch, ready for keys, and a wait for outputs that takes no CPU.

# window_with FILE…: the window of "$lumatra" on the files (process $app_pid, window
# $window) at 1000 × 680, focused, ready for keys.
window_with() {
    "$lumatra" "$@" 2>>"$work/stderr.txt" &
    app_pid=$!
    window=$(main_window)
    xdotool windowsize --sync "$window" 1000 680
    xdotool windowfocus --sync "$window"
    # The first key xdotool sends comes from the server's test keyboard, a device the
    # window has not heard from: the server announces a new keyboard and Qt reloads the
    # keymap (a few milliseconds). A person's keyboard has long been known by the time
    # they start a batch, so a Shift press takes that reload out of a measurement.
    xdotool key shift
}

# wait_for_outputs FOLDER EXT COUNT: until the folder holds COUNT files *.EXT, counted
# with the shell's own globbing and waiting on a pipe that never speaks: a poll that
# started programs would take the CPU the conversions need.
wait_for_outputs() {
    local outputs nap
    shopt -s nullglob
    exec {nap}<> <(:)
    while outputs=("$1"/*."$2"); [[ ${#outputs[@]} -lt $3 ]]; do read -rt 0.01 -u "$nap" || true; done
    exec {nap}>&-
    shopt -u nullglob
}
