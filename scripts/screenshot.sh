#!/usr/bin/env bash
# Makes the AppStream screenshot with the program's own snapshot mode: the window with
# a few sample files in demonstration states, 1000 × 680.
#   scripts/screenshot.sh [OUT.png] [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$top/build/screenshots/window.png}")
build=${2:-$top/build}
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
mkdir -p "$(dirname "$out")"
ff() { ffmpeg -loglevel error -y "$@"; }
ff -f lavfi -i testsrc=size=640x360:rate=25:duration=3 -f lavfi -i sine=duration=3 \
    -shortest "$samples/Отпуск в горах.mp4"
ff -f lavfi -i sine=frequency=440:duration=4 "$samples/Интервью.wav"
ff -f lavfi -i sine=frequency=660:duration=2 "$samples/Подкаст, выпуск 12.flac"
printf '[{"город": "Казань", "население": 1300000}]\n' > "$samples/города.json"
printf '# Отчёт\n\nГотово.\n' > "$samples/Отчёт.md"
# The settings of the picture are the defaults, whatever the user's are.
XDG_CONFIG_HOME=$samples/config "$build/lumatra" --snapshot "$out" \
    "$samples/Отпуск в горах.mp4" "$samples/Интервью.wav" "$samples/Подкаст, выпуск 12.flac" \
    "$samples/города.json" "$samples/Отчёт.md"
