#!/usr/bin/env bash
# Whole-process comparison: `lumatra --cli` against the very ffmpeg command line it runs.
# Two cases: a 3-second clip to mp3 (the per-file cost a batch of short voice memos
# pays) and a 20-second 720p video to mp4 (where the encoder dominates). The difference
# is our start, probe, spawn and placement.
# Usage: bench/media_overhead.sh [build dir] (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
command -v hyperfine >/dev/null || sudo apt-get install -y hyperfine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_clip() { # seconds, output
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=$1" \
        -f lavfi -i "sine=frequency=440:duration=$1" -c:v libx264 -preset ultrafast -c:a aac \
        -shortest "$2"
}
make_clip 3 "$work/short.mkv"
make_clip 20 "$work/long.mkv"
mkdir -p "$work/out"

for case in "mp3 short ${RUNS_SHORT:-20}" "mp4 long ${RUNS_LONG:-3}"; do
    read -r target clip runs <<<"$case"
    case $target in
    mp4) middle=(-map 0:v:0 -sn -dn -map_metadata 0 -map 0:a:0
                 -vf "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'"
                 -c:v libx264 -preset medium -crf 23 -pix_fmt yuv420p -c:a aac -b:a 192k
                 -movflags +faststart) ;;
    mp3) middle=(-map 0:a:0 -vn -sn -dn -map_metadata 0 -c:a libmp3lame -b:a 192k) ;;
    esac
    direct=$(printf '%q ' ffmpeg -hide_banner -nostdin -y -i "$work/$clip.mkv" "${middle[@]}" \
        -progress pipe:1 -nostats "$work/out/direct.$target")
    hyperfine --warmup 1 --runs "$runs" --prepare "rm -rf $work/out/* $work/out/.lumatra-*" \
        --export-json "$work/$target.json" \
        -n "ffmpeg $target" "$direct >/dev/null" \
        -n "lumatra $target" "$build/lumatra --cli $work/$clip.mkv --to $target --out $work/out >/dev/null"
    python3 - "$work/$target.json" "$target" "$clip" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
target, clip = sys.argv[2], sys.argv[3]
ffmpeg = results[f"ffmpeg {target}"]["median"]
ours = results[f"lumatra {target}"]["median"]
print(f"{clip} clip to {target}: ffmpeg {ffmpeg:.3f} s, lumatra {ours:.3f} s, ratio {ours / ffmpeg:.3f} "
      f"(overhead {100 * (ours / ffmpeg - 1):+.1f} %, {1000 * (ours - ffmpeg):+.0f} ms)")
PY
done
