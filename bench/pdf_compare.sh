#!/usr/bin/env bash
# Whole-process comparisons of the PDF routes against the peer tools, in one run:
#  - a 10-page PDF to PNG at `balanced` (200 dpi) against `pdftoppm -r 200 -png`, with the
#    peak memory of each;
#  - a DOCX to PDF against `soffice --headless --convert-to pdf`, cold (a fresh LibreOffice
#    profile every run) and warm (the profile and the system's caches already made).
# Usage: bench/pdf_compare.sh [build dir] (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/peer"

# The fixtures come from the program itself: text to PDF and to DOCX.
python3 - "$work/report.txt" <<'PY'
import random, sys
random.seed(7)
words = "документ страница текст converter layout шрифт поле page строка абзац margin и в на".split()
with open(sys.argv[1], "w") as out:
    for _ in range(90):
        out.write(" ".join(random.choice(words) for _ in range(60)) + "\n\n")
PY
"$build/lumatra" --cli "$work/report.txt" --to pdf --out "$work" >/dev/null
"$build/lumatra" --cli "$work/report.txt" --to docx --out "$work" >/dev/null
pages=$(pdfinfo "$work/report.pdf" | awk '/^Pages:/ {print $2}')
echo "fixture: $pages pages"

hyperfine --warmup 1 --runs "$runs" --prepare "rm -rf $work/out/* $work/peer/*" \
    --export-json "$work/png.json" \
    -n "pdftoppm" "pdftoppm -r 200 -png $work/report.pdf $work/peer/page" \
    -n "lumatra" "$build/lumatra --cli $work/report.pdf --to png --quality balanced --out $work/out >/dev/null"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
rm -rf "$work/out"/* "$work/peer"/*
echo "peak memory, kB: pdftoppm $(peak pdftoppm -r 200 -png "$work/report.pdf" "$work/peer/page")," \
    "lumatra $(peak "$build/lumatra" --cli "$work/report.pdf" --to png --out "$work/out")"

hyperfine --runs "$runs" --prepare "rm -rf $work/out/* $work/peer/* $work/profile" \
    --export-json "$work/cold.json" \
    -n "soffice cold" "soffice -env:UserInstallation=file://$work/profile --headless --convert-to pdf --outdir $work/peer $work/report.docx >/dev/null" \
    -n "lumatra cold" "$build/lumatra --cli $work/report.docx --to pdf --out $work/out >/dev/null"
soffice -env:UserInstallation="file://$work/profile" --headless --convert-to pdf \
    --outdir "$work/peer" "$work/report.docx" >/dev/null
hyperfine --warmup 1 --runs "$runs" --prepare "rm -rf $work/out/* $work/peer/*" \
    --export-json "$work/warm.json" \
    -n "soffice warm" "soffice -env:UserInstallation=file://$work/profile --headless --convert-to pdf --outdir $work/peer $work/report.docx >/dev/null" \
    -n "lumatra warm" "$build/lumatra --cli $work/report.docx --to pdf --out $work/out >/dev/null"

python3 - "$work" <<'PY'
import json, sys
def medians(name):
    return {r["command"]: r["median"] for r in json.load(open(f"{sys.argv[1]}/{name}.json"))["results"]}
png = medians("png")
print(f"10 pages to PNG: pdftoppm {png['pdftoppm']:.3f} s, lumatra {png['lumatra']:.3f} s, "
      f"ratio {png['lumatra'] / png['pdftoppm']:.2f}")
for kind in ("cold", "warm"):
    m = medians(kind)
    ours, peer = m[f"lumatra {kind}"], m[f"soffice {kind}"]
    print(f"DOCX to PDF, {kind}: soffice {peer:.3f} s, lumatra {ours:.3f} s, ratio {ours / peer:.2f}")
PY
