# What the data benchmarks share (sourced): the executable as their first argument
# (build/lumatra by default), the size of the large inputs in megabytes as the second
# (100), and a scratch folder $work, removed on exit, holding records.json and
# records.csv of that size.
here=$(cd "$(dirname "$0")" && pwd)
lumatra=$(realpath "${1:-build/lumatra}")
megabytes=${2:-100}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/data_generate.py" json "$megabytes" > "$work/records.json"
python3 "$here/data_generate.py" csv "$megabytes" > "$work/records.csv"
