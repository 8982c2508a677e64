#!/usr/bin/env bash
# Every media source extension ffmpeg can write here, made by ffmpeg and converted with
# `lumatra --cli` (audio to mp3, video to mp4), each output checked with ffprobe; prints
# one line per source and the time it took, and fails if any source does not convert.
# The containers ffmpeg cannot write here (ape and amr have no encoder, alac no container
# of that name) and other names of a listed container (aif, m4b, m4v, mpeg, 3g2, mts, oga)
# are left out.
# Usage: bench/media_sources.sh [build dir] (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"
sine=(-f lavfi -i sine=duration=0.5)
picture=(-f lavfi -i testsrc=size=176x144:rate=25:duration=0.5 -f lavfi -i sine=duration=0.5
    -shortest)
failed=0
check() { # extension target codec ffmpeg-arguments...
    local ext=$1 target=$2 codec=$3
    shift 3
    ffmpeg -loglevel error -y "$@" "$work/source.$ext"
    local start
    start=$(date +%s.%N)
    "$build/lumatra" --cli "$work/source.$ext" --to "$target" --out "$work/out" >/dev/null
    local took got
    took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    got=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 \
        "$work/out/source.$target" || true)
    printf '%-5s → %s: %s (%s s)\n' "$ext" "$target" "${got:-nothing}" "$took"
    [[ $got == "$codec" ]] || failed=1
    rm -f "$work/out"/* "$work/source.$ext"
}
for ext in mp3 m4a aac wav flac ogg opus aiff wma caf ac3 mka wv; do
    check $ext mp3 mp3 "${sine[@]}"
done
check aifc mp3 mp3 "${sine[@]}" -f aiff
for ext in mp4 mov mkv avi webm flv wmv ts ogv; do
    check $ext mp4 aac "${picture[@]}"
done
check mpg mp4 aac "${picture[@]}" -f mpeg
check 3gp mp4 aac "${picture[@]}" -c:v libx264 -c:a aac
check m2ts mp4 aac "${picture[@]}" -f mpegts
check vob mp4 aac "${picture[@]}" -f vob
check mxf mp4 aac "${picture[@]}" -c:v mpeg2video -c:a pcm_s16le -ar 48000
check dv mp4 aac -f lavfi -i testsrc=size=720x576:rate=25:duration=0.5 -f lavfi \
    -i sine=duration=0.5:sample_rate=48000 -shortest -c:v dvvideo -pix_fmt yuv420p -ac 2 \
    -c:a pcm_s16le
exit $failed
