#!/usr/bin/env bash
# Uses the window as a new user would on a virtual display, a screenshot of every step in
# OUT_DIR (needs Xvfb, xdotool, ImageMagick):  tests/desktop/try_as_user.sh [BUILD] [OUT]
# The file panel by keyboard, a second launch, a format menu, a batch under a resting
# pointer, the smallest and a large size, a quit during a conversion; then 20 songs, one
# broken: the title counts, the end is summed up, the retry converts the mended song.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
out=${2:-/tmp/lumatra-try}
lumatra=$build/lumatra
mkdir -p "$out"
rm -f "$out"/*.png
. "$top/tests/desktop/session.sh"

scratch_user
files=$HOME/Файлы
mkdir -p "$files"
ff -f lavfi -i sine=frequency=440:duration=2 "$files/Мелодия.wav"
ff -f lavfi -i sine=frequency=660:duration=2 "$files/Звонок.flac"
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=2 "$files/Заставка.mp4"
ff -f lavfi -i testsrc=size=640x480:duration=1 -frames:v 1 "$files/Снимок экрана с очень длинным названием, которое не помещается.png"
printf '[{"имя": "Ада", "n": 1}]\n' > "$files/данные.json"
printf '# Заметка\n\nТекст.\n' > "$files/Заметка.md"
ff -f lavfi -i sine=duration=1 "$work/Ещё.wav"
ff -f lavfi -i testsrc=size=640x480:rate=25:duration=40 -f lavfi -i sine=duration=40 \
    -c:v mpeg4 -q:v 5 -shortest "$work/Длинное видео.mkv"

start_display 1920x1200
key() { xdotool key --delay 60 "$@"; }
size() { xdotool windowsize --sync "$window" "$1" "$2"; }

"$lumatra" 2>"$out/stderr.txt" &
app_pid=$!
window=$(main_window)
xdotool windowfocus --sync "$window"
shot empty-window 1.5
size 820 560
shot empty-smallest

# Ctrl+O opens the panel in the home folder; Right enters "Файлы", Ctrl+A marks all.
key ctrl+o
shot file-panel
key Right ctrl+a
shot file-panel-all-marked
key Return
shot files-added-smallest

timeout 10 "$lumatra" "$work/Ещё.wav" || fail "the second launch did not end well"
shot second-launch-added

size 1600 1000
xdotool windowfocus --sync "$window"
shot large-window
# The first row's format chip (rows are at most 1,100 wide, centred) opens its menu on
# that first click; Escape closes it again.
crop 300x130+960+345 "$work/menu-closed.png"
xdotool mousemove --window "$window" 1204 335 click 1
shot format-menu 0.6
crop 300x130+960+345 "$work/menu-open.png"
n=$(changed "$work/menu-closed.png" "$work/menu-open.png")
[[ $n -gt 5000 ]] || fail "the format menu did not open ($n pixels changed)"
key Escape
# A click selects the first row, Down moves on, Delete removes it.
xdotool mousemove --window "$window" 700 335 click 1
key Down
shot row-selected 0.4
key Delete
shot row-removed
# The pointer rests on the last row's «Отменить» while the batch runs: the rows stay
# put when it starts, and two late clicks meant for cancel leave the finished row (a row
# that moved or left changes the whole strip, not just its status and buttons).
row=1100x60+250+674
xdotool mousemove --window "$window" 1319 704
crop $row "$work/row-before.png"
count_before=$(ls "$files" | wc -l)
key ctrl+Return
sleep 0.5
crop $row "$work/row-started.png"
shot batch-started-pointer-on-list
all_converted() { [[ $(ls "$files" | wc -l) -ge $((count_before + 5)) ]]; }
wait_until 60 0.5 all_converted || true
shot converted-large 2
n=$(changed "$work/row-before.png" "$work/row-started.png")
[[ $n -lt 20000 ]] || fail "the rows moved under the pointer when the batch started ($n pixels)"
crop $row "$work/row-done.png"
xdotool click --repeat 2 --delay 400 1
shot clicked-twice-where-cancel-was 1.2
crop $row "$work/row-after.png"
n=$(changed "$work/row-done.png" "$work/row-after.png")
[[ $n -lt 8000 ]] || fail "the finished row under the pointer went ($n pixels changed)"
xdotool mousemove --window "$window" 1500 20
size 820 560
shot converted-smallest

# Quit during a long conversion: asked first; "Выйти" (Enter) stops it cleanly.
timeout 10 "$lumatra" "$work/Длинное видео.mkv"
xdotool windowfocus --sync "$window"
key ctrl+Return
sleep 2
pgrep -P "$app_pid" ffmpeg >/dev/null || fail "no conversion running to quit from"
key ctrl+q
shot quit-question
key Return
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_until 100 0.1 ended || fail "the program did not end after Выйти"
wait "$app_pid" || fail "the program ended with a failure status"
app_pid=
if pgrep -f "ffmpeg.*Длинное видео" >/dev/null; then fail "ffmpeg is still running"; fi
# The note added first loaded a text engine; the window's quit ends it.
engines=("$XDG_RUNTIME_DIR"/lumatra/textutil-*.lock)
[[ -e ${engines[0]} ]] || fail "adding a document loaded no text engine"
sleep 2
for lock in "${engines[@]}"; do
    pid=$(cat "$lock" 2>/dev/null)
    [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && fail "a text engine outlived the window ($lock)"
done
if ls -A "$work" | grep -q '^\.lumatra-'; then fail "an unfinished output was left"; fi

# ---- A second session: 20 songs, followed from the screen and the title.
batch=$work/Песни
mkdir -p "$batch"
for i in $(seq -w 1 20); do
    ff -f lavfi -i "sine=frequency=$((200 + 10#$i * 20)):duration=30" -ac 2 "$batch/Песня $i.wav"
done
printf 'это не звук' >"$batch/Песня 07.wav"
"$lumatra" "$batch"/*.wav 2>>"$out/stderr.txt" &
app_pid=$!
window=$(main_window)
title() { xdotool getwindowname "$window"; }
title_is() { [[ $(title) == $1 ]]; } # a pattern
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[[ $geometry == 820x560 ]] || fail "the window did not come back at its closing size ($geometry)"
size 1000 680
xdotool windowmove --sync "$window" 0 0
xdotool windowfocus --sync "$window"
shot batch-ready 1.5
crop 560x200+60+170 "$work/rows-before.png" # the names, clear of the status lines
# A click on «Конвертировать» at the footer's right end.
xdotool mousemove --window "$window" 880 643 click 1
wait_until 40 0.1 title_is "* из 20 — Lumatra" || fail "the title does not count the batch ($(title))"
sleep 0.4
crop 560x200+60+170 "$work/rows-started.png"
shot batch-running 0.2
n=$(changed "$work/rows-before.png" "$work/rows-started.png")
[[ $n -lt 6000 ]] || fail "the rows moved when the batch started ($n pixels)"
wait_until 240 0.5 title_is "Готово*" || true
shot batch-summary 1
title_is "Готово 19, 1 ошибка — Lumatra" || fail "the end is not summed up ($(title))"
# The broken song is mended; «Повторить неудавшиеся», in the summary's strip, converts it.
ff -f lavfi -i sine=duration=2 "$batch/Песня 07.wav"
xdotool mousemove --window "$window" 840 584 click 1
wait_until 60 0.25 title_is "Готово 1 — Lumatra" || true
shot retried 0.5
title_is "Готово 1 — Lumatra" || fail "«Повторить неудавшиеся» did not convert the song ($(title))"
[[ -s "$batch/Песня 07.mp3" ]] || fail "the retried song has no result"
size 1600 1000
shot batch-large 1
size 820 560
shot end-smallest 1
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=

if [[ -s $out/stderr.txt ]]; then echo "standard error:"; cat "$out/stderr.txt"; fi
if grep -q 'ALSA' "$out/stderr.txt"; then fail "sound errors on standard error"; fi
echo "done; screenshots in $out"
