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

echo "Input: $(stat -c %s "$work/records.json") bytes of JSON, $(stat -c %s "$work/records.csv") bytes of CSV"
mkdir "$work/out"
measure "lumatra JSON → CSV" /dev/null "$lumatra" --cli "$work/records.json" --to csv --out "$work/out"
ours_json=$last
measure "jq . (JSON → JSON)" "$work/jq.json" jq . "$work/records.json"
theirs_json=$last
measure "lumatra CSV → JSON" /dev/null "$lumatra" --cli "$work/records.csv" --to json --out "$work/out"
ours_csv=$last
measure "mlr --icsv --ojson cat" "$work/mlr.json" mlr --icsv --ojson cat "$work/records.csv"
theirs_csv=$last
echo "Short records: $(stat -c %s "$work/short.json") bytes of JSON, $(stat -c %s "$work/short.csv") bytes of CSV"
measure "lumatra JSON → CSV (short)" /dev/null "$lumatra" --cli "$work/short.json" --to csv --out "$work/out"
ours_short_json=$last
measure "jq . (short)" "$work/jq-short.json" jq . "$work/short.json"
theirs_short_json=$last
measure "lumatra CSV → JSON (short)" /dev/null "$lumatra" --cli "$work/short.csv" --to json --out "$work/out"
ours_short_csv=$last
measure "mlr --icsv --ifs ';' --ojson cat (short)" "$work/mlr-short.json" mlr --icsv --ifs ';' --ojson cat "$work/short.csv"
theirs_short_csv=$last
echo
ratio "lumatra JSON → CSV against jq" "$theirs_json" "$ours_json"
ratio "lumatra CSV → JSON against Miller" "$theirs_csv" "$ours_csv"
ratio "short: JSON → CSV against jq" "$theirs_short_json" "$ours_short_json"
ratio "short: CSV → JSON against Miller" "$theirs_short_csv" "$ours_short_csv"
