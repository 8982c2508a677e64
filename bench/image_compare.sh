#!/usr/bin/env bash
# Whole-process comparison on pictures: `lumatra --cli` against the vips command line and
# ImageMagick doing the same work, with peak memory; icons from a large PNG; and the size
# and time of HEIC and AVIF at each quality.
# Usage: bench/image_compare.sh [build dir] (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
lumatra=$build/lumatra
command -v hyperfine >/dev/null || sudo apt-get install -y hyperfine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"

# A photo-like picture: ffmpeg's test pattern with a little sensor-like noise.
picture() { # width height output
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$1x$2" -frames:v 1 "$work/base.png"
    vips gaussnoise "$work/noise.v" "$1" "$2" --sigma 2
    vips bandjoin "$work/noise.v $work/noise.v $work/noise.v" "$work/noise3.v"
    vips add "$work/base.png" "$work/noise3.v" "$work/sum.v"
    vips cast "$work/sum.v" "$3" uchar
    rm -f "$work/base.png" "$work"/*.v
}
picture 6000 4000 "$work/p24.png"
vips copy "$work/p24.png" "$work/p24.jpg[Q=92]"
picture 4000 3000 "$work/p12.png"
vips copy "$work/p12.png" "$work/p12.jpg[Q=92]"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
megabytes() { awk -v n="$1" 'BEGIN { printf "%.2f", n / 1048576 }'; }

peak() { # label command...
    /usr/bin/time -f '%M' -o "$work/time.txt" "${@:2}" >/dev/null 2>&1 || true
    printf '%-24s peak %s MB\n' "$1" "$(awk '{ v = $1 } END { printf "%.1f", v / 1024 }' "$work/time.txt")"
    rm -f "$work/out"/*
}

echo "== 24-megapixel JPEG to PNG and to JPEG"
for target in png jpg; do
    case $target in
    png) vipsOut="$work/out/v.png"; imOut="$work/out/m.png" ;;
    jpg) vipsOut="$work/out/v.jpg[Q=85]"; imOut="$work/out/m.jpg" ;;
    esac
    hyperfine --warmup 1 --runs "${RUNS:-5}" --prepare "rm -f $work/out/*" \
        --export-json "$work/$target.json" \
        -n "vips $target" "vips copy $work/p24.jpg '$vipsOut'" \
        -n "convert $target" "convert $work/p24.jpg -quality 85 $imOut" \
        -n "lumatra $target" "$lumatra --cli $work/p24.jpg --to $target --out $work/out"
    python3 - "$work/$target.json" "$target" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
t = sys.argv[2]
v, m, l = r[f"vips {t}"], r[f"convert {t}"], r[f"lumatra {t}"]
print(f"{t}: vips {v:.3f} s, convert {m:.3f} s, lumatra {l:.3f} s; "
      f"lumatra/vips {l / v:.2f}, convert/lumatra {m / l:.2f}")
PY
    peak "vips copy → $target" vips copy "$work/p24.jpg" "$vipsOut"
    peak "convert → $target" convert "$work/p24.jpg" -quality 85 "$imOut"
    peak "lumatra → $target" "$lumatra" --cli "$work/p24.jpg" --to "$target" --out "$work/out"
done

echo "== 24-megapixel greyscale JPEG to PNG: grey stays one band"
vips colourspace "$work/p24.jpg" "$work/grey.jpg[Q=92]" b-w
hyperfine --warmup 1 --runs "${RUNS:-5}" --prepare "rm -f $work/out/*" \
    --export-json "$work/grey.json" \
    -n "vips grey" "vips copy $work/grey.jpg $work/out/v.png" \
    -n "lumatra grey" "$lumatra --cli $work/grey.jpg --to png --out $work/out"
python3 - "$work/grey.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
v, l = r["vips grey"], r["lumatra grey"]
print(f"grey png: vips {v:.3f} s, lumatra {l:.3f} s; lumatra/vips {l / v:.2f}")
PY
vips copy "$work/grey.jpg" "$work/out/v.png"
"$lumatra" --cli "$work/grey.jpg" --to png --out "$work/out" >/dev/null
printf 'grey png bytes: vips %s, lumatra %s (bands %s)\n' "$(stat -c %s "$work/out/v.png")" \
    "$(stat -c %s "$work/out/grey.png")" "$(vipsheader -f bands "$work/out/grey.png")"
rm -f "$work/out"/*

echo "== 24-megapixel PNG to icons"
for target in ico icns; do
    peak "lumatra → $target" "$lumatra" --cli "$work/p24.png" --to "$target" --out "$work/out"
    hyperfine --runs 3 --prepare "rm -f $work/out/*" \
        "$lumatra --cli $work/p24.png --to $target --out $work/out" | grep -E "Time|Range"
done

echo "== 12-megapixel photo to HEIC and AVIF"
printf '| target | quality | seconds | size |\n|---|---|---|---|\n'
for target in heic avif; do
    for quality in best balanced small; do
        rm -f "$work/out"/*
        start=$(now)
        "$lumatra" --cli "$work/p12.jpg" --to $target --quality $quality --out "$work/out" >/dev/null
        seconds=$(since "$start")
        printf '| %s | %s | %s s | %s MB |\n' $target $quality "$seconds" \
            "$(megabytes "$(stat -c %s "$work/out/p12.$target")")"
    done
done
echo "HEIC against JPEG of the same quality (HEIC must be the smaller; each smaller from best"
echo "to small):"
for quality in best balanced small; do
    rm -f "$work/out"/*
    "$lumatra" --cli "$work/p12.png" --to heic --quality $quality --out "$work/out" >/dev/null
    "$lumatra" --cli "$work/p12.png" --to jpg --quality $quality --out "$work/out" >/dev/null
    heic=$(stat -c %s "$work/out/p12.heic") jpg=$(stat -c %s "$work/out/p12.jpg")
    printf '  %s: heic %s MB, jpg %s MB%s%s\n' $quality "$(megabytes "$heic")" \
        "$(megabytes "$jpg")" "$( ((heic < jpg)) || echo ' — HEIC NOT SMALLER')" \
        "$( ((heic < ${lastHeic:-heic + 1} && jpg < ${lastJpg:-jpg + 1})) ||
            echo ' — NOT SMALLER THAN THE QUALITY ABOVE')"
    lastHeic=$heic lastJpg=$jpg
done
if [[ ${DEFAULTS:-1} == 1 ]]; then
    echo "libvips' own HEIF saver at its defaults, for reference:"
    for compression in hevc av1; do
        start=$(now)
        vips heifsave "$work/p12.jpg" "$work/out/ref.heif" --compression $compression --Q 85
        echo "  $compression Q85: $(since "$start") s, $(megabytes "$(stat -c %s "$work/out/ref.heif")") MB"
    done
fi
