#!/usr/bin/env bash
# Whole-process comparison of `lumatra --cli` with jq and Miller on generated inputs of
# the same size: JSON → CSV against `jq .` (both read and write the whole document) and
# CSV → JSON against `mlr --icsv --ojson cat`, on two shapes: large export records of
# the given size, and 120,000 small records of short Cyrillic strings, numbers, booleans,
# nulls and small arrays. Every program writes its output to a file in the same scratch
# folder. Reports wall and CPU seconds, MB/s of input, peak RSS and its multiple of the
# input, and the ratios against lumatra, all from one run.
# (JSON → JSON is no route of the command line: a .json file is never offered json.)
#
# Usage: bench/data_compare.sh [path/to/lumatra] [megabytes]    (defaults: build/lumatra, 100)
# Needs: jq, miller, python3, /usr/bin/time (package "time").
set -euo pipefail

. "$(dirname "$0")/data_setup.sh"
python3 "$here/data_generate.py" short-json 120000 > "$work/short.json"
python3 "$here/data_generate.py" short-csv 120000 > "$work/short.csv"

# measure NAME OUTPUT COMMAND...: runs once, prints one line, leaves "wall cpu" in $last.
measure() {
    local name=$1 output=$2
    shift 2
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" > "$output" 2> "$work/stderr" || {
        echo "$name failed:" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    read -r wall user system rss < "$work/time"
    local input=$3
    [[ -f $input ]] || input=${@: -1}
    local bytes
    bytes=$(stat -c %s "$input")
    awk -v n="$name" -v w="$wall" -v u="$user" -v s="$system" -v r="$rss" -v b="$bytes" 'BEGIN {
        printf "%-34s %7.2f s wall %7.2f s cpu %8.1f MB/s %8.0f MB peak (%.1f× input)\n",
               n, w, u + s, b / 1e6 / (w > 0 ? w : 0.01), r / 1024, r * 1024 / b }'
    last="$wall $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
}

ratio() { # ratio LABEL "wall cpu" "wall cpu" (theirs, ours)
    awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN {
        split(a, t, " "); split(b, o, " ");
        printf "%-34s %.1f× faster (wall), %.1f× (cpu)\n", l, t[1] / o[1], t[2] / o[2] }'
}

mkdir "$work/out"
ratios=()
# SHAPE TITLE SUFFIX PREFIX MILLER_OPTIONS…: both directions on $work/SHAPE.json and .csv.
compare_shape() {
    local shape=$1 label=$2 suffix=$3 prefix=$4 ours_json ours_csv
    shift 4
    echo "$label: $(stat -c %s "$work/$shape.json") bytes of JSON, $(stat -c %s "$work/$shape.csv") bytes of CSV"
    measure "lumatra JSON → CSV$suffix" /dev/null "$lumatra" --cli "$work/$shape.json" --to csv --out "$work/out"
    ours_json=$last
    measure "jq .${suffix:- (JSON → JSON)}" "$work/jq-$shape.json" jq . "$work/$shape.json"
    ratios+=("$(ratio "${prefix}JSON → CSV against jq" "$last" "$ours_json")")
    measure "lumatra CSV → JSON$suffix" /dev/null "$lumatra" --cli "$work/$shape.csv" --to json --out "$work/out"
    ours_csv=$last
    measure "mlr --icsv ${*:+$* }--ojson cat$suffix" "$work/mlr-$shape.json" mlr --icsv "$@" --ojson cat "$work/$shape.csv"
    ratios+=("$(ratio "${prefix}CSV → JSON against Miller" "$last" "$ours_csv")")
}
compare_shape records Input "" "lumatra "
compare_shape short "Short records" " (short)" "short: " --ifs ';'
echo
printf '%s\n' "${ratios[@]}"
