#!/usr/bin/env bash
# Whole-process comparison: `lumatra --cli` against the very ffmpeg command line it runs,
# on a 10-second 720p clip. The difference is our probe, spawn and placement.
# Usage: bench/media_overhead.sh [build dir] (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
command -v hyperfine >/dev/null || sudo apt-get install -y hyperfine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=10 \
    -f lavfi -i sine=frequency=440:duration=10 -c:v libx264 -preset ultrafast -c:a aac \
    -shortest "$work/clip.mkv"
mkdir -p "$work/out"

for target in mp4 mp3; do
    case $target in
    mp4) middle=(-map 0:v:0 -sn -dn -map_metadata 0 -map 0:a:0 -vf 'scale=trunc(iw/2)*2:trunc(ih/2)*2'
                 -c:v libx264 -preset medium -crf 23 -pix_fmt yuv420p -c:a aac -b:a 192k
                 -movflags +faststart) ;;
    mp3) middle=(-map 0:a:0 -vn -sn -dn -map_metadata 0 -c:a libmp3lame -b:a 192k) ;;
    esac
    direct=$(printf '%q ' ffmpeg -hide_banner -nostdin -y -i "$work/clip.mkv" "${middle[@]}" \
        -progress pipe:1 -nostats "$work/out/direct.$target")
    hyperfine --warmup 1 --runs "${RUNS:-5}" --prepare "rm -f $work/out/*" \
        --export-json "$work/$target.json" \
        -n "ffmpeg $target" "$direct >/dev/null" \
        -n "lumatra $target" "$build/lumatra --cli $work/clip.mkv --to $target --out $work/out >/dev/null"
    python3 - "$work/$target.json" "$target" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
target = sys.argv[2]
ffmpeg = results[f"ffmpeg {target}"]["median"]
ours = results[f"lumatra {target}"]["median"]
print(f"{target}: ffmpeg {ffmpeg:.3f} s, lumatra {ours:.3f} s, ratio {ours / ffmpeg:.3f} "
      f"(overhead {100 * (ours / ffmpeg - 1):+.1f} %, {1000 * (ours - ffmpeg):+.0f} ms)")
PY
done
