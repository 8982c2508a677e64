#!/usr/bin/env bash
# Shows by apt's own simulation that Lumatra's Debian package and the set-up script
# install beside whatever LibreOffice a machine has, removing nothing: a desktop (Writer,
# Calc, GTK), a server with the nogui Writer, one with only the nogui Calc (the nogui
# Writer is named beside the package there), and one with none (it gets the desktop
# Writer): this machine's package state with LibreOffice taken out and those put in.
#   check_packaging.sh [PACKAGE.deb | BUILD_DIR]   (exits 77 when apt knows no packages)
# A build folder (build/ by default) gives a stand-in with the dependencies CPack gives.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
subject=${1:-$top/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! apt-cache show libreoffice-writer libreoffice-writer-nogui >/dev/null 2>&1; then
    echo "SKIP: apt knows no LibreOffice packages (run apt-get update)"
    exit 77
fi

if [[ -d $subject ]]; then
    depends=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_DEPENDS "\(.*\)")$/\1/p' \
        "$subject/CPackConfig.cmake")
    [[ -n $depends ]] || fail "no package dependencies in $subject/CPackConfig.cmake"
    mkdir -p "$work/standin/DEBIAN"
    cat >"$work/standin/DEBIAN/control" <<EOF
Package: lumatra
Version: 0.1
Architecture: $(dpkg --print-architecture)
Maintainer: Lumatra <lumatra@users.noreply.github.com>
Depends: $depends
Description: stand-in with the dependencies of Lumatra's package
EOF
    dpkg-deb --build "$work/standin" "$work/lumatra.deb" >/dev/null
    package=$work/lumatra.deb
else
    package=$(realpath "$subject")
fi
grep -q 'libreoffice-writer | libreoffice-writer-nogui' <(dpkg-deb -f "$package" Depends) ||
    fail "the package does not accept either LibreOffice Writer"

# apt (and dpkg-query) read the machine's state from $APT_CONFIG's status file.
host_status=$(apt-config shell s Dir::State::status/f | sed -n "s/^s='\(.*\)'$/\1/p")
use_state() {
    printf 'Dir::State::status "%s";\n' "$work/$1/status" >"$work/$1/apt.conf"
    export APT_CONFIG=$work/$1/apt.conf
}
simulate() { LC_ALL=C apt-get install -s --no-install-recommends "$@" 2>&1; }
# The status file without the stanzas of the packages named in $2 (one per line).
without() {
    awk -v names="$2" 'BEGIN { RS = ""; ORS = "\n\n"; n = split(names, list, "\n")
                               for (i = 1; i <= n; i++) drop[list[i]] = 1 }
        { split($0, lines, "\n"); name = substr(lines[1], 10) }
        !(lines[1] ~ /^Package: / && name in drop)' "$1"
}
# A machine: the state $1 with what installing packages $3… adds, installed, as state $2.
machine() {
    local from=$1 to=$2
    shift 2
    use_state "$from"
    local plan
    plan=$(simulate "$@") || fail "cannot make the machine $to: $plan"
    local added
    added=$(sed -n 's/^Inst \([^ ]*\) \(\[[^]]*\] \)\?(\([^ ]*\) .*/\1=\3/p' <<<"$plan")
    mkdir -p "$work/$to"
    without "$work/$from/status" "$(sed 's/=.*//' <<<"$added")" >"$work/$to/status"
    [[ -z $added ]] && return
    # Each package's first record, marked installed.
    # shellcheck disable=SC2086
    apt-cache show $added | grep -vE '^(Filename|Size|MD5sum|SHA256|Description-md5|Tag):' |
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             { split($0, lines, "\n"); if (lines[1] in seen) next; seen[lines[1]] = 1
               sub(/\n/, "\nStatus: install ok installed\n"); print }' >>"$work/$to/status"
}

# No LibreOffice: this machine without every package that needs LibreOffice's own.
mkdir -p "$work/none"
cp "$host_status" "$work/none/status"
use_state none
office=$(LC_ALL=C apt-get remove -s libreoffice-common 2>&1 | sed -n 's/^Remv \([^ ]*\) .*/\1/p')
without "$host_status" "$office" >"$work/none/status"

machine none desktop libreoffice-writer libreoffice-calc libreoffice-gtk3
machine none server libreoffice-writer-nogui
machine none calc-server libreoffice-calc-nogui

for state in desktop server calc-server none; do
    use_state "$state"
    # apt takes the desktop Writer where neither is installed; a server that has only
    # other nogui parts names the nogui Writer with the package, as the README says.
    command=("$package")
    [[ $state == calc-server ]] && command=(libreoffice-writer-nogui "$package")
    plan=$(simulate "${command[@]}") || fail "$state: apt cannot install the package: $plan"
    removed=$(sed -n 's/^Remv \([^ ]*\) .*/\1/p' <<<"$plan" | tr '\n' ' ')
    [[ -z $removed ]] || fail "$state: installing the package removes $removed"
    writer=$(sed -n 's/^Inst \(libreoffice-writer[^ ]*\) .*/\1/p' <<<"$plan")
    case $state in
    none) [[ $writer == libreoffice-writer ]] || fail "none: the package brings '${writer}'" ;;
    calc-server) [[ $writer == libreoffice-writer-nogui ]] || fail "calc-server: '${writer}'" ;;
    *) [[ -z $writer ]] || fail "$state: the package brings $writer beside what is there" ;;
    esac
    setup=$("$top/scripts/install-deps.sh" --dry-run 2>&1) ||
        fail "$state: the set-up script refuses: $setup"
    echo "$state: package adds ${writer:-no LibreOffice}, removes nothing; set-up: ${setup:-nothing to do}"
done
echo "installs beside every LibreOffice"
