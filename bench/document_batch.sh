#!/usr/bin/env bash
# A batch of documents three ways, side by side in one run:
#   bench/document_batch.sh [BUILD_DIR] [ROUNDS]
# 20 one-page letters (Word documents) become PDF, ODT, and (from their ODT versions) Word
# documents again:
#   - LibreOffice's own batch: one `soffice --headless --convert-to FMT` over the 20 files
#     (with a profile made beforehand, as a user of LibreOffice has one);
#   - one `lumatra --cli FOLDER --to FMT` call, which starts its engines itself (none runs
#     before it);
#   - for PDF (the target the window proposes), the window, its engines already loaded
#     (as they are a few seconds after documents arrive in its list): the files handed to
#     `lumatra`, a pause, then Ctrl+Enter, timed until every output exists (on a virtual
#     display; skipped without Xvfb and xdotool).
# Every way runs ROUNDS times (2 unless given), interleaved; the best wall time of each is
# printed with its ratio to soffice, and the load average before and after.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
rounds=${2:-2}
lumatra=$build/lumatra
textutil=$build/lumatra-textutil
[[ -x $lumatra && -x $textutil ]] || { echo "build lumatra first" >&2; exit 1; }
command -v soffice >/dev/null || { echo "needs LibreOffice's soffice" >&2; exit 1; }

. "$top/tests/desktop/session.sh"
. "$top/bench/window_session.sh"
at_exit='"$textutil" --quit-engine >/dev/null 2>&1 || true'
scratch_user

# The letters: a heading, an address and four paragraphs, one page each.
mkdir -p "$work/txt" "$work/docx" "$work/odt"
for i in $(seq -w 1 20); do
    {
        printf 'Письмо № %s\n\nИванову И. И., г. Москва, ул. Лесная, д. %s\n\n' "$i" "$i"
        for p in 1 2 3 4; do
            printf 'Абзац %s. Съешь же ещё этих мягких французских булок, да выпей чаю. ' "$p"
            printf 'The quick brown fox jumps over the lazy dog. Настоящим сообщаем, что '
            printf 'заказ № %s%s готов к отгрузке и будет доставлен в течение трёх дней.\n\n' "$i" "$p"
        done
        printf 'С уважением,\nП. П. Петров\n'
    } >"$work/txt/letter $i.txt"
done
"$lumatra" --cli "$work/txt" --to docx --out "$work/docx" >/dev/null
"$lumatra" --cli "$work/docx" --to odt --out "$work/odt" >/dev/null
"$textutil" --quit-engine >/dev/null 2>&1 || true
profile="file://$work/soffice-profile"
soffice -env:UserInstallation="$profile" --headless --convert-to pdf --outdir "$work/warm-up" \
    "$work/docx/letter 01.docx" >/dev/null 2>&1

now() { echo "$EPOCHREALTIME"; }
count() { find "$1" -maxdepth 1 -name "*.$2" 2>/dev/null | wc -l; }
# Waits until the engines have ended (a quit request is answered at once; the process
# takes a moment).
engines_gone() {
    "$textutil" --quit-engine >/dev/null 2>&1 || true
    for _ in $(seq 100); do pgrep -f -- "$textutil --serve" >/dev/null || return 0; sleep 0.05; done
}

# SOURCE_DIR TARGET: prints the wall seconds.
by_soffice() {
    local out=$work/out-soffice start end
    rm -rf "$out"; mkdir -p "$out"
    start=$(now)
    soffice -env:UserInstallation="$profile" --headless --convert-to "$2" --outdir "$out" \
        "$1"/* >/dev/null 2>&1
    end=$(now)
    [[ $(count "$out" "$2") -eq 20 ]] || { echo "soffice missed files" >&2; exit 1; }
    echo "$end - $start" | bc
}
by_cli() {
    local out=$work/out-cli start end
    rm -rf "$out"; mkdir -p "$out"
    engines_gone
    start=$(now)
    "$lumatra" --cli "$1" --to "$2" --out "$out" >/dev/null
    end=$(now)
    [[ $(count "$out" "$2") -eq 20 ]] || { echo "the batch call missed files" >&2; exit 1; }
    echo "$end - $start" | bc
}

with_window=false
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    start_display 1920x1200 # on display $XVFB_DISPLAY if set
    with_window=true
fi
by_window() {
    local dir=$work/win start end
    rm -rf "$dir"; cp -r "$1" "$dir"
    engines_gone
    window_with "$dir"/*
    # The engines load while the user looks at the list.
    sleep 4
    start=$(now)
    xdotool key ctrl+Return
    wait_for_outputs "$dir" "$2" 20
    end=$(now)
    xdotool key ctrl+q
    for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" || true
    app_pid=
    echo "$end - $start" | bc
}

echo "cores: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for batch in "docx pdf" "docx odt" "odt docx"; do
    read -r from to <<<"$batch"
    declare -A best=()
    ways=(soffice cli)
    # The window proposes PDF for a Word document: it is timed for that target.
    $with_window && [[ $from == docx && $to == pdf ]] && ways+=(window)
    for _ in $(seq "$rounds"); do
        for way in "${ways[@]}"; do
            t=$("by_$way" "$work/$from" "$to")
            if [[ -z ${best[$way]:-} ]] || (($(echo "$t < ${best[$way]}" | bc))); then best[$way]=$t; fi
        done
    done
    line=$(printf '20 letters %s → %s: soffice %.2f s' "$from" "$to" "${best[soffice]}")
    for way in cli window; do
        [[ -n ${best[$way]:-} ]] || continue
        line+=$(printf ', %s %.2f s (%.2f×)' "$way" "${best[$way]}" \
            "$(echo "${best[$way]} / ${best[soffice]}" | bc -l)")
    done
    echo "$line; load $(cut -d' ' -f1 /proc/loadavg)"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ -s $work/stderr.txt ]]; then echo "window's standard error:"; cat "$work/stderr.txt"; fi
