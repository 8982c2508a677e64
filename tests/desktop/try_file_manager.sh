#!/usr/bin/env bash
# Converts from a real file manager's menu as a user does, on a virtual display, leaving
# a screenshot of every step:  tests/desktop/try_file_manager.sh [BUILD_DIR] [OUT_DIR]
# Thunar on a folder of songs, «Отправить → Конвертировать в MP3» picked with the pointer,
# notification-daemon on a watched private bus: the results, the notifications of the
# progress and the end, and the process ending with its closed notification. Needs Xvfb,
# xdotool, ImageMagick, Thunar and notification-daemon (heavy: not in the test suite).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
out=${2:-/tmp/lumatra-file-manager}
mkdir -p "$out"
rm -f "$out"/*.png

if [[ -z ${LUMATRA_ON_PRIVATE_BUS:-} ]]; then
    # Again, on a session bus of its own that ends with it.
    LUMATRA_ON_PRIVATE_BUS=1 exec dbus-run-session -- "$0" "$build" "$out"
fi

. "$top/tests/desktop/session.sh"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share:/usr/share
bus=$DBUS_SESSION_BUS_ADDRESS
scratch_user
export DBUS_SESSION_BUS_ADDRESS=$bus
music=$HOME/Музыка
mkdir -p "$music"
for name in "Утро" "День" "Вечер"; do
    # Long enough for the progress notification to be seen.
    ff -f lavfi -i "sine=frequency=440:duration=240" "$music/$name.wav"
done

start_display 1280x800

dbus-monitor "interface='org.freedesktop.Notifications',member='Notify'" >"$work/bus.log" 2>&1 &
pids+=($!)
/usr/lib/notification-daemon/notification-daemon >/dev/null 2>&1 &
pids+=($!)

thunar "$music" >/dev/null 2>&1 &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --class Thunar | head -1)
xdotool windowsize "$window" 900 600 windowmove "$window" 40 40
sleep 1
xdotool windowfocus --sync "$window"
xdotool key --window "$window" ctrl+2 # the detailed list: a row per song, at known heights
shot folder

# Every song selected, then the context menu on the second row.
xdotool key --window "$window" ctrl+a
eval "$(xdotool getwindowgeometry --shell "$window")"
click_x=$((X + 260)) click_y=$((Y + 168))
xdotool mousemove "$click_x" "$click_y" click 3
shot menu
# «Send To», its submenu sorted by name, and «Конвертировать в MP3» in it: the pointer
# goes along the «Send To» row into the submenu, then down to the entry.
xdotool mousemove $((click_x + 60)) $((click_y + 43))
shot send-to
xdotool mousemove $((click_x + 330)) $((click_y + 43))
sleep 0.4
xdotool mousemove $((click_x + 330)) $((click_y + 220))
shot mp3-entry 0.6
xdotool click 1
shot converting 1

# The results beside the songs, and the notifications that told of them.
wait_until 150 0.2 grep -q 'Готово 3 → MP3' "$work/bus.log" || true
shot done 0.3
for name in "Утро" "День" "Вечер"; do
    [[ -s $music/$name.mp3 ]] || fail "no $name.mp3 beside the song"
done
for said in "Конвертирую [0-9] из 3 → MP3" "Остановить" "Готово 3 → MP3" "Показать"; do
    grep -q "string \"$said\"" "$work/bus.log" || fail "no notification says «$said»"
done
xdotool key --window "$window" ctrl+a # the results, which Thunar notices by itself
shot results
# Closing the notification ends the conversion's process, which waited for an answer.
xdotool mousemove 1249 35 click 1
gone() { ! pgrep -f -- "--convert-to mp3 -- $music/" >/dev/null; }
wait_until 50 0.2 gone || true
shot closed 0.3
gone || fail "the conversion's process outlived its notification"
echo "screenshots in $out"
