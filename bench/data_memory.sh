#!/usr/bin/env bash
# Peak memory of every data route of `lumatra --cli`, one run each on generated inputs,
# printed as a Markdown table: input size, wall time, peak resident memory and its
# multiple of the input (the goal is under 4×).
#
# Usage: bench/data_memory.sh [path/to/lumatra] [megabytes]    (defaults: build/lumatra, 100)
# Needs: python3, /usr/bin/time (package "time").
set -euo pipefail

. "$(dirname "$0")/data_setup.sh"
python3 - "$work" "$megabytes" <<'PY'
import plistlib, sys
work, megabytes = sys.argv[1], float(sys.argv[2])
count = int(megabytes * 1_000_000 / 2)
with open(f"{work}/zeros.json", "w") as out:           # [0,0,…] on one line
    out.write("[" + "0," * (count - 1) + "0]")
with open(f"{work}/line.csv", "w") as out:             # one line, no line break
    out.write("ab," * int(megabytes * 2_000_000 / 3))
records = [{"name": "Клиент %d" % i, "n": i, "price": i / 3, "ok": i % 2 == 0,
            "tags": ["a", "b"]} for i in range(int(megabytes * 4000))]
with open(f"{work}/records.plist", "wb") as out:       # binary
    plistlib.dump(records, out, fmt=plistlib.FMT_BINARY)
with open(f"{work}/xml.plist", "wb") as out:
    plistlib.dump(records[: len(records) // 2], out, fmt=plistlib.FMT_XML)
with open(f"{work}/wrapped.plist", "wb") as out:     # binary, a dictionary at the top
    plistlib.dump({"count": len(records), "items": records}, out, fmt=plistlib.FMT_BINARY)
with open(f"{work}/wrapped-xml.plist", "wb") as out:
    plistlib.dump({"count": len(records) // 2, "items": records[: len(records) // 2]}, out,
                  fmt=plistlib.FMT_XML)
PY
{ printf '{"source":"export","items":'; cat "$work/records.json"; printf '}'; } > "$work/wrapped.json"
cp "$work/records.plist" "$work/binary.plist"

echo "| Conversion | Input | Time | Peak memory |"
echo "|---|---|---|---|"
route() { # route LABEL FILE TARGET
    mkdir -p "$work/out"
    /usr/bin/time -f '%e %M' -o "$work/time" "$lumatra" --cli "$work/$2" --to "$3" \
        --out "$work/out" > "$work/log" || { cat "$work/log" >&2; exit 1; }
    rm -rf "$work/out"
    read -r wall rss < "$work/time"
    awk -v l="$1" -v w="$wall" -v r="$rss" -v b="$(stat -c %s "$work/$2")" 'BEGIN {
        printf "| %s | %.1f MB | %.2f s | %.0f MB (%.1f×) |\n", l, b / 1e6, w, r / 1024, r * 1024 / b }'
}
route "CSV → plist" records.csv plist
route "JSON → plist" records.json plist
route "\`[0,0,…]\` → plist" zeros.json plist
route "CSV with one line → JSON" line.csv json
route "binary plist → JSON" binary.plist json
route "binary plist → CSV" records.plist csv
route "XML plist → JSON" xml.plist json
route "binary plist, dictionary at the top → JSON" wrapped.plist json
route "XML plist, dictionary at the top → JSON" wrapped-xml.plist json
route "JSON, object at the top → plist" wrapped.json plist
route "JSON → CSV" records.json csv
route "CSV → JSON" records.csv json
