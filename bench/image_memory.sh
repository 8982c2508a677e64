#!/usr/bin/env bash
# Peak memory of one `lumatra --cli` process on the largest pictures a source may be:
# 17000² PNG, JPEG, GIF and SVG and a 16383² WebP (the format's limit), each to HEIC,
# AVIF, PDF, GIF, ICO and PNG; transparent PNGs just under the bound of each target that
# takes the picture whole; an SVG filter bomb; two 289-megapixel JPEGs to PDF at once; and
# how soon a filtered drawing ends after SIGINT.
# Usage: bench/image_memory.sh [build dir] [side] (default: build, 17000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
side=${2:-17000}
lumatra=$build/lumatra
work=${WORK:-$(mktemp -d)}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"

# The pictures: a gradient that repeats every 256 pixels, a few megabytes as PNG.
if [ ! -f "$work/big.png" ]; then
    vips xyz "$work/x.v" "$side" "$side"
    vips extract_band "$work/x.v" "$work/xb.v" 0
    vips remainder_const "$work/xb.v" "$work/r.v" 256
    vips cast "$work/r.v" "$work/g.v" uchar
    vips bandjoin "$work/g.v $work/g.v $work/g.v" "$work/rgb.v"
    vips copy "$work/rgb.v" "$work/big.png"
    vips copy "$work/rgb.v" "$work/big.jpg"
    cp "$work/big.jpg" "$work/big2.jpg"
    webp=$((side < 16383 ? side : 16383))
    vips crop "$work/rgb.v" "$work/w.v" 0 0 "$webp" "$webp"
    vips copy "$work/w.v" "$work/big.webp[lossless,effort=0]"
    vips colourspace "$work/g.v" "$work/bw.v" b-w
    vips copy "$work/bw.v" "$work/big.gif[effort=1]"
    rm -f "$work"/*.v
    cat >"$work/big.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="$side" height="$side"><rect width="$side" height="$side" fill="#3a6"/><circle cx="$((side / 2))" cy="$((side / 2))" r="$((side / 3))" fill="#c33"/></svg>
SVG
    for size in 16000 2400; do
        cat >"$work/bomb$size.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="$size" height="$size"><filter id="f"><feTurbulence baseFrequency="0.01" numOctaves="10"/><feGaussianBlur stdDeviation="3000"/></filter><rect width="$size" height="$size" filter="url(#f)"/></svg>
SVG
    done
    # Just under the bounds of HEIC (83 Мп), AVIF (91), GIF (166) and PDF (234), with alpha.
    for bound in heic:9100 avif:9500 gif:12800 pdf:15200; do
        vips crop "$work/big.png" "$work/c.v" 0 0 "${bound#*:}" "${bound#*:}"
        vips bandjoin_const "$work/c.v" "$work/ca.v" 200
        vips copy "$work/ca.v" "$work/bound-${bound%:*}.png"
    done
    rm -f "$work"/*.v
fi

run() { # source target
    rm -rf "$work/out" && mkdir -p "$work/out"
    local start end line
    start=$(date +%s.%N)
    /usr/bin/time -f '%M' -o "$work/time.txt" "$lumatra" --cli "$work/$1" --to "$2" \
        --out "$work/out" >"$work/lines.txt" 2>&1 || true
    end=$(date +%s.%N)
    line=$(grep -v '^\[' "$work/lines.txt" | tail -1 | sed "s|$work/out/||")
    printf '%-10s → %-5s peak %6.0f MB  %6.1f s  %s\n' "$1" "$2" \
        "$(awk '{ v = $1 } END { print v / 1024 }' "$work/time.txt")" \
        "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$line"
}

[ -n "${SKIP_BIG:-}" ] || for source in big.png big.jpg big.gif big.webp big.svg; do
    for target in ${TARGETS:-heic avif pdf gif ico png}; do run "$source" "$target"; done
done
[ -n "${SKIP_BIG:-}" ] || for bound in heic avif gif pdf; do run "bound-$bound.png" "$bound"; done
[ -n "${SKIP_BIG:-}" ] || for target in png heic pdf; do run bomb16000.svg "$target"; done

echo "== two pictures just under the PDF bound, --jobs 2, one process"
rm -rf "$work/out" "$work/pair" && mkdir -p "$work/out" "$work/pair"
cp "$work/bound-pdf.png" "$work/pair/a.png" && cp "$work/bound-pdf.png" "$work/pair/b.png"
/usr/bin/time -f '%M' -o "$work/time.txt" "$lumatra" --cli "$work/pair" --to pdf --jobs 2 \
    --out "$work/out" >"$work/lines.txt" 2>&1 || true
printf 'peak %.0f MB; %s\n' "$(awk '{ v = $1 } END { print v / 1024 }' "$work/time.txt")" \
    "$(tail -1 "$work/lines.txt")"

stopped() { # label source target seconds
    rm -rf "$work/out" && mkdir -p "$work/out"
    local start asked end
    start=$(date +%s.%N)
    "$lumatra" --cli "$work/$2" --to "$3" --out "$work/out" >"$work/lines.txt" 2>&1 &
    local pid=$!
    sleep "$4"
    kill -INT "$pid" 2>/dev/null && asked=$(date +%s.%N) || asked=
    wait "$pid" || true
    end=$(date +%s.%N)
    if [ -n "$asked" ]; then
        printf '%s: ended %.2f s after SIGINT: %s\n' "$1" \
            "$(awk -v a="$asked" -v b="$end" 'BEGIN { print b - a }')" "$(tail -1 "$work/lines.txt")"
    else
        printf '%s: ended before SIGINT (%.2f s): %s\n' "$1" \
            "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$(tail -1 "$work/lines.txt")"
    fi
}
echo "== SIGINT during the work"
stopped "2400² filtered drawing → png (13 s of work)" bomb2400.svg png 3
stopped "17000² GIF → png, while decoding" big.gif png 3
stopped "17000² PNG → ico" big.png ico 0.5
stopped "picture at the HEIC bound → heic" bound-heic.png heic 5
stopped "picture at the PDF bound → pdf" bound-pdf.png pdf 5
