#!/bin/sh
# Whole-process document conversions: lumatra-textutil against a cold
# `soffice --headless --convert-to` on the same files, and Markdown to HTML in process
# against cmark. Ratios are measured in one run, side by side.
#
#   bench/document_compare.sh [build dir]   (default build-bench; needs markdown_bench
#                                            and lumatra-textutil built there)
set -eu
build=${1:-build-bench}
tool=$(find "$build" -name lumatra-textutil -type f -perm -u+x | head -n 1)
markdown_bench=$build/bench/markdown_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/burst"
runtime=$work/runtime
mkdir -m 700 "$runtime"

mean() { jq -r '.results[0].mean' "$1"; }
ratio() { echo "scale=3; $1 / $2" | bc; }

# Inputs: a small page with Cyrillic text and a table, and its Word version.
cat > "$work/page.html" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>Отчёт</title></head><body>
<h1>Квартальный отчёт</h1><p>Съешь же ещё этих мягких французских булок, да выпей чаю.</p>
<table><tr><td>Ячейка</td><td>42</td></tr></table></body></html>
HTML
env -u XDG_RUNTIME_DIR "$tool" "$work/page.html" -convert docx -output "$work/page.docx"
profile="file://$work/soffice-profile"
soffice -env:UserInstallation="$profile" --headless --convert-to odt --outdir "$work/out" \
    "$work/page.docx" >/dev/null 2>&1 # makes soffice's profile once, as a user has it

# versus LABEL SOFFICE_TARGET SOURCE OUR_TARGET: one file, cold, soffice against ours;
# leaves soffice's mean in $soffice.
versus() {
    echo "== $1, one file, cold"
    hyperfine -N -w 1 -r 5 --export-json "$work/versus.json" \
        "soffice -env:UserInstallation=$profile --headless --convert-to $2 --outdir $work/out $work/$3" \
        "env -u XDG_RUNTIME_DIR $tool $work/$3 -convert $4 -output $work/out/ours.$4" >/dev/null
    soffice=$(jq -r '.results[0].mean' "$work/versus.json")
    ours=$(jq -r '.results[1].mean' "$work/versus.json")
    echo "soffice $soffice s, lumatra-textutil $ours s, ratio $(ratio "$ours" "$soffice")"
}
versus "docx -> odt" odt page.docx odt
versus "html -> docx" "docx:MS\ Word\ 2007\ XML" page.html docx
soffice_html=$soffice

echo "== burst of 20 small documents (html -> docx), warm engine, engine start included"
i=0
while [ $i -lt 20 ]; do
    sed "s/Квартальный/Документ $i:/" "$work/page.html" > "$work/burst/doc$i.html"
    i=$((i + 1))
done
start=$(date +%s.%N)
for f in "$work"/burst/doc*.html; do
    XDG_RUNTIME_DIR=$runtime "$tool" "$f" -convert docx -output "$f.docx"
done
end=$(date +%s.%N)
burst=$(echo "scale=4; ($end - $start) / 20" | bc)
XDG_RUNTIME_DIR=$runtime "$tool" --quit-engine >/dev/null 2>&1 || true
echo "per file $burst s against cold soffice $soffice_html s: ratio $(ratio "$burst" "$soffice_html")"

echo "== Markdown -> HTML, 10 MB, in process against cmark"
"$markdown_bench" --write "$work/doc.md"
"$markdown_bench" --benchmark_min_time=2 --benchmark_format=json > "$work/md.json" 2>/dev/null
ours_md=$(jq -r '.benchmarks[0].real_time / 1000' "$work/md.json")
hyperfine -N -w 1 -r 5 --export-json "$work/c.json" "cmark $work/doc.md" --output=null >/dev/null
cmark_md=$(mean "$work/c.json")
echo "Markdown.html $ours_md s, cmark $cmark_md s, ratio $(ratio "$ours_md" "$cmark_md")"
