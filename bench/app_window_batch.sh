#!/usr/bin/env bash
# The real window against one program after another, on a virtual display:
#   bench/app_window_batch.sh [BUILD_DIR]
# Three batches — 20 WAV songs of 20 s to MP3 at «Баланс», 40 small JPEG photos to PNG,
# 20 text documents to PDF — are converted once by a sequential bash loop and once by
# the window (the files handed to `lumatra`, then Ctrl+Enter, timed until every output
# exists and the window has shown the batch's end). It prints both wall times, their ratio, and the CPU seconds of the window's
# own threads (everything but the conversion workers: the GUI thread, the scene graph's
# render thread, Qt's helpers) during the batch and over three idle seconds after it.
# Beside them, the loop's commands run as many at once as there are cores (xargs -P): the
# most the machine gives for the batch when nothing but those programs runs.
# The whole run is done with the renderer Qt picks and again with
# QT_QUICK_BACKEND=software. Needs Xvfb and xdotool.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
lumatra=$build/lumatra
textutil=$build/lumatra-textutil
[[ -x $lumatra && -x $textutil ]] || { echo "build lumatra first" >&2; exit 1; }

. "$top/tests/desktop/session.sh"
. "$top/bench/window_session.sh"
at_exit='"$textutil" --quit-engine >/dev/null 2>&1 || true'
scratch_user
export PATH=$build:$PATH

mkdir -p "$work/songs" "$work/photos" "$work/letters"
for i in $(seq -w 1 20); do
    ff -f lavfi -i "sine=frequency=$((200 + 10#$i * 15)):duration=20" -ac 2 -ar 44100 \
        "$work/songs/song $i.wav"
done
for i in $(seq -w 1 40); do
    ff -f lavfi -i "testsrc2=size=640x480" -frames:v 1 -q:v 3 "$work/photos/photo $i.jpg"
done
for i in $(seq -w 1 20); do
    for p in $(seq 40); do
        printf 'Письмо %s, абзац %s. Съешь же ещё этих мягких французских булок, да выпей чаю. The quick brown fox jumps over the lazy dog.\n\n' "$i" "$p"
    done >"$work/letters/letter $i.txt"
done

start_display 1920x1200

now() { echo "$EPOCHREALTIME"; }
# CPU nanoseconds of the window's own threads, left in $window_ns: all but the conversion
# workers ("convert") and the threads libvips starts for them ("libvips worker"). Read
# with the shell's builtins alone, so that it can be read often while a batch runs
# without starting a process. schedstat's first field is the thread's time on a CPU in
# nanoseconds: exact, where stat's clock ticks (10 ms) would round a short batch's few
# frames to nothing or to several ticks.
window_cpu() {
    local task name ran
    window_ns=0
    for task in /proc/"$1"/task/*; do
        read -r name <"$task/comm" 2>/dev/null || continue
        case $name in convert|libvips*|vips*|worker*|pool*) continue ;; esac
        read -r ran _ <"$task/schedstat" 2>/dev/null || continue
        window_ns=$((window_ns + ran))
    done
}
seconds() { echo "scale=4; $1 / 1000000000" | bc; }
count() { find "$1" -maxdepth 1 -name "*.$2" 2>/dev/null | wc -l; }

# Sequential loop: NAME SOURCE_DIR SOURCE_EXT TARGET_EXT COMMAND…  (COMMAND gets IN OUT)
sequential() {
    local dir=$work/seq-$1 start end f
    rm -rf "$dir"; mkdir -p "$dir"
    "$textutil" --quit-engine >/dev/null 2>&1 || true
    start=$(now)
    for f in "$2"/*."$3"; do
        local base=${f##*/}
        "${@:5}" "$f" "$dir/${base%.*}.$4"
    done
    end=$(now)
    [[ $(count "$dir" "$4") -eq $(ls "$2" | wc -l) ]] || { echo "the loop missed files" >&2; exit 1; }
    echo "$end - $start" | bc
}
mp3() { ff -i "$1" -map 0:a:0 -vn -sn -dn -map_metadata 0 -c:a libmp3lame -b:a 192k "$2"; }
by_cli() { "$lumatra" --cli "$1" --to "${2##*.}" --out "${2%/*}" >/dev/null; }
export -f ff mp3 by_cli
export lumatra

# The same commands side by side, as many at once as there are cores: what the machine
# gives for this batch when nothing but the programs themselves runs.
# NAME SOURCE_DIR SOURCE_EXT TARGET_EXT COMMAND
side_by_side() {
    local dir=$work/par-$1 start end
    rm -rf "$dir"; mkdir -p "$dir"
    "$textutil" --quit-engine >/dev/null 2>&1 || true
    start=$(now)
    find "$2" -maxdepth 1 -name "*.$3" -print0 |
        xargs -0 -n 1 -P "$(nproc)" bash -c 'b=${3##*/}; "$0" "$3" "$1/${b%.*}.$2"' "$5" "$dir" "$4"
    end=$(now)
    [[ $(count "$dir" "$4") -eq $(ls "$2" | wc -l) ]] || { echo "the parallel run missed files" >&2; exit 1; }
    echo "$end - $start" | bc
}

# The window: NAME SOURCE_DIR TARGET_EXT. Prints "wall cpu idle_cpu".
windowed() {
    local dir=$work/win-$1 n start end cpu0 cpu1 idle0 idle1
    rm -rf "$dir"; cp -r "$2" "$dir"
    n=$(ls "$dir" | wc -l)
    "$textutil" --quit-engine >/dev/null 2>&1 || true
    window_with "$dir"/*
    xdotool mousemove 1900 1190
    sleep 2
    window_cpu "$app_pid"; cpu0=$window_ns
    start=$(now)
    xdotool key ctrl+Return
    wait_for_outputs "$dir" "$3" "$n"
    # The batch is over for the window once it has shown it: after the last output its
    # threads fall quiet (an idle window uses no CPU at all). The end is their last
    # activity, looked for until they have been quiet for longer than a tick of the
    # progress clock.
    local last end_us nap
    exec {nap}<> <(:)
    window_cpu "$app_pid"; last=$window_ns; end_us=${EPOCHREALTIME/./}
    while (( ${EPOCHREALTIME/./} - end_us < 500000 )); do
        read -rt 0.02 -u "$nap" || true
        window_cpu "$app_pid"
        if (( window_ns != last )); then last=$window_ns; end_us=${EPOCHREALTIME/./}; fi
    done
    end=${end_us:0:-6}.${end_us: -6}
    exec {nap}>&-
    cpu1=$last
    sleep 1
    window_cpu "$app_pid"; idle0=$window_ns
    sleep 3
    window_cpu "$app_pid"; idle1=$window_ns
    xdotool key ctrl+q
    wait "$app_pid" || true
    app_pid=
    echo "$(echo "$end - $start" | bc) $(seconds $((cpu1 - cpu0))) $(seconds $((idle1 - idle0)))"
}

report() { # LABEL SEQ "WALL CPU IDLE"
    read -r wall cpu idle <<<"$3"
    printf '%-22s loop %6.2f s  window %6.2f s  ratio %.2f (%.2f× throughput)  window CPU %5.3f s (%4.1f %% of a core)  idle 3 s: %.2f s\n' \
        "$1" "$2" "$wall" "$(echo "$wall / $2" | bc -l)" "$(echo "$2 / $wall" | bc -l)" \
        "$cpu" "$(echo "100 * $cpu / $wall" | bc -l)" "$idle"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
for backend in default software; do
    if [[ $backend == software ]]; then export QT_QUICK_BACKEND=software; else unset QT_QUICK_BACKEND; fi
    echo "renderer: $backend"
    # The loop runs before and after the window; their mean is the reference, so that a
    # load that drifts during the run weighs on both sides alike.
    both() { # NAME DIR SOURCE_EXT TARGET_EXT COMMAND
        local before after win
        before=$(sequential "$1" "$2" "$3" "$4" "$5")
        win=$(windowed "$1" "$2" "$4")
        par=$(side_by_side "$1" "$2" "$3" "$4" "$5")
        after=$(sequential "$1" "$2" "$3" "$4" "$5")
        echo "$(echo "($before + $after) / 2" | bc -l)|$win|$before|$after|$par"
    }
    for batch in "songs wav mp3 mp3 20_songs_→_MP3" "photos jpg png by_cli 40_photos_→_PNG" \
                 "letters txt pdf by_cli 20_letters_→_PDF"; do
        read -r name ext target command label <<<"$batch"
        IFS='|' read -r loop win before after par <<<"$(both "$name" "$work/$name" "$ext" "$target" "$command")"
        report "${label//_/ }" "$loop" "$win"
        printf '%22s (loop before %.2f s, after %.2f s; the loop'"'"'s commands %d at once %.2f s = %.2f of the loop; load %s)\n' \
            "" "$before" "$after" "$(nproc)" "$par" "$(echo "$par / $loop" | bc -l)" "$(cut -d' ' -f1 /proc/loadavg)"
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ -s $work/stderr.txt ]]; then echo "window's standard error:"; cat "$work/stderr.txt"; fi
