#!/usr/bin/env bash
# Installs the Debian packages of packages.txt that are missing (needs root or sudo).
#
# A line "a | b" is met by either package. When neither is installed, the first one that
# installs without removing anything is taken. Nothing already installed is ever removed
# or broken: apt simulates the installation first, and when it would remove a package
# (LibreOffice's desktop and nogui packages conflict, for one) the script stops and says
# what is in the way instead.
#   install-deps.sh [--dry-run]    --dry-run: say what would be installed; change nothing
# The installed state is read where apt reads it (APT_CONFIG's Dir::State::status).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dry_run=false
[ "${1:-}" = --dry-run ] && dry_run=true

eval "$(apt-config shell dpkg_status Dir::State::status/f)"
admindir=$(dirname "${dpkg_status:-/var/lib/dpkg/status}")
declare -A present
while read -r package state; do
    [ "$state" = "install ok installed" ] && present[$package]=1
done < <(dpkg-query --admindir="$admindir" -W -f='${Package} ${Status}\n' 2>/dev/null)
installed() { [ -n "${present[$1]:-}" ]; }

missing=()     # packages to install
choices=()     # lines "a | b" of which nothing is installed
while read -r line; do
    line=${line%%#*}
    [ -z "${line// /}" ] && continue
    IFS='|' read -r -a alternatives <<<"$line"
    met=false
    for package in "${alternatives[@]}"; do
        if installed "${package// /}"; then met=true; break; fi
    done
    $met && continue
    if [ ${#alternatives[@]} -eq 1 ]; then
        missing+=("${line// /}")
    else
        choices+=("$line")
    fi
done <"$here/packages.txt"
[ ${#missing[@]} -eq 0 ] && [ ${#choices[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$dry_run || $sudo apt-get update -qq

# What apt would do; fails when it cannot install them at all.
simulate() {
    LC_ALL=C apt-get install -s --no-install-recommends "$@" 2>&1
}
removals() {
    grep -E '^Remv ' <<<"$1" | awk '{print $2}' | tr '\n' ' '
}

for line in "${choices[@]}"; do
    IFS='|' read -r -a alternatives <<<"$line"
    chosen=""
    for package in "${alternatives[@]}"; do
        package=${package// /}
        if plan=$(simulate "${missing[@]}" "$package") && [ -z "$(removals "$plan")" ]; then
            chosen=$package
            break
        fi
    done
    if [ -z "$chosen" ]; then
        echo "Lumatra needs one of: $line." >&2
        echo "Neither installs beside the packages installed here:" >&2
        for package in "${alternatives[@]}"; do
            if plan=$(simulate "${missing[@]}" "${package// /}"); then
                echo "  ${package// /}: removes $(removals "$plan")" >&2
            else
                echo "  ${package// /}: apt cannot install it:" >&2
                grep -E '^( |E:)' <<<"$plan" | sed 's/^/    /' >&2 || true
            fi
        done
        echo "Install the one that fits beside your packages yourself, then run this again." >&2
        exit 1
    fi
    missing+=("$chosen")
done

if ! plan=$(simulate "${missing[@]}"); then
    echo "apt cannot install ${missing[*]}:" >&2
    grep -E '^( |E:)' <<<"$plan" >&2 || true
    exit 1
fi
if [ -n "$(removals "$plan")" ]; then
    echo "Installing ${missing[*]} would remove: $(removals "$plan")" >&2
    echo "Nothing was changed; install what Lumatra needs in a way that keeps them." >&2
    exit 1
fi
if $dry_run; then
    echo "would install: ${missing[*]}"
    exit 0
fi
# --no-remove: should apt see it otherwise after all, it stops rather than remove.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends --no-remove \
    "${missing[@]}"
