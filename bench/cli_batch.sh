#!/usr/bin/env bash
# Many files from the command line: one `lumatra --cli` call per batch against a
# sequential shell loop of `lumatra --cli` and against `parallel -j2` of the bare tools.
#   bench/cli_batch.sh [BUILD_DIR] [ROUNDS]
# Batches: 40 WAV songs of 5 s to MP3 (the bare tool: ffmpeg with libmp3lame at 192 kbit/s,
# as «Баланс» writes) and 40 JPEG photos of 640×480 to PNG (the bare tool: vips copy).
# Every way runs ROUNDS times (3 unless given), interleaved; the best wall time of each
# is printed with its ratio to `parallel -j2`, and the load average before and after.
# Installs GNU parallel when it is missing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
rounds=${2:-3}
lumatra=$build/lumatra
[[ -x $lumatra ]] || { echo "build lumatra first" >&2; exit 1; }
if ! command -v parallel >/dev/null; then
    apt-get install -y parallel >/dev/null || sudo apt-get install -y parallel >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
mkdir -p "$work/songs" "$work/photos"
for i in $(seq -w 1 40); do
    ff -f lavfi -i "sine=frequency=$((200 + 10#$i * 15)):duration=5" -ac 2 -ar 44100 \
        "$work/songs/song $i.wav"
    ff -f lavfi -i "testsrc2=size=640x480" -frames:v 1 -q:v 3 "$work/photos/photo $i.jpg"
done

now() { date +%s.%N; }
out=$work/out
# Runs "$@" with a fresh, empty output folder $out; prints the wall seconds.
timed() {
    rm -rf "$out"
    mkdir -p "$out"
    local start
    start=$(now)
    "$@" >/dev/null
    echo "$(now) - $start" | bc -l
}

one_call() {
    "$lumatra" --cli "$work/songs" --to mp3 --out "$out"
    "$lumatra" --cli "$work/photos" --to png --out "$out"
}
loop() {
    for f in "$work"/songs/*.wav; do "$lumatra" --cli "$f" --to mp3 --out "$out"; done
    for f in "$work"/photos/*.jpg; do "$lumatra" --cli "$f" --to png --out "$out"; done
}
bare_parallel() {
    parallel -j2 ffmpeg -nostdin -loglevel error -i {} -c:a libmp3lame -b:a 192k "$out/{/.}.mp3" \
        ::: "$work"/songs/*.wav
    parallel -j2 vips copy {} "$out/{/.}.png" ::: "$work"/photos/*.jpg
}

echo "cores: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A best
for _ in $(seq "$rounds"); do
    for way in one_call loop bare_parallel; do
        t=$(timed "$way")
        [[ $(ls "$out" | wc -l) -eq 80 ]] || { echo "$way left $(ls "$out" | wc -l) files" >&2; exit 1; }
        if [[ -z ${best[$way]:-} ]] || (($(echo "$t < ${best[$way]}" | bc -l))); then
            best[$way]=$t
        fi
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
for way in one_call loop bare_parallel; do
    printf '%-14s %6.2f s   %.2f × parallel -j2\n' "$way" "${best[$way]}" \
        "$(echo "${best[$way]} / ${best[bare_parallel]}" | bc -l)"
done
