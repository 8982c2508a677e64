#!/usr/bin/env bash
# Installs the built program into a scratch prefix and checks what a desktop needs of
# it: the executable, the desktop entry (valid, listing the types the catalog accepts),
# the icon, the AppStream metainfo (valid) and the MIME type of property lists.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -x $prefix/bin/lumatra ]] || fail "no executable in bin"
entry=$prefix/share/applications/lumatra.desktop
[[ -f $entry ]] || fail "no desktop entry"
[[ -f $prefix/share/icons/hicolor/scalable/apps/lumatra.svg ]] || fail "no scalable icon"
metainfo=$prefix/share/metainfo/io.github.lumatra.Lumatra.metainfo.xml
[[ -f $metainfo ]] || fail "no metainfo"

mime=$prefix/share/mime/packages/lumatra.xml
[[ -f $mime ]] || fail "no MIME definition for property lists"
grep -q 'type="application/x-plist"' "$mime" && grep -q 'pattern="\*.plist"' "$mime" ||
    fail "the MIME definition does not name *.plist"
# The desktop's database takes it in, and a property list gets its type.
mkdir -p "$prefix/mimedb/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$mime" "$prefix/mimedb/mime/packages/"
update-mime-database "$prefix/mimedb/mime" >/dev/null 2>&1 || fail "update-mime-database refused it"
printf 'bplist00\x01' >"$prefix/x.plist"
XDG_DATA_DIRS=$prefix/mimedb XDG_DATA_HOME=$prefix/nodata \
    gio info -a standard::content-type "$prefix/x.plist" 2>/dev/null | grep -q application/x-plist ||
    fail "a .plist file does not get application/x-plist"
desktop-file-validate "$entry" || fail "desktop entry is not valid"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "metainfo is not valid"

grep -q '^Exec=lumatra %F$' "$entry" || fail "the entry does not pass files"
# One type of each kind the window accepts, and none left as a placeholder.
for type in audio/mpeg audio/x-wav video/mp4 video/quicktime image/jpeg image/png \
    application/pdf application/vnd.openxmlformats-officedocument.wordprocessingml.document \
    text/markdown application/json text/csv application/x-plist; do
    grep -q "^MimeType=.*\\b$type;" "$entry" || fail "MimeType lacks $type"
done
if grep -q '@MIME_TYPES@' "$entry"; then fail "placeholder left in the entry"; fi

# The installed program finds its own libraries and modules from where it was installed
# (check_file_manager_menus.py converts with it, through every module).
for program in "$prefix/bin/lumatra" "$prefix/bin/lumatra-textutil" "$prefix"/lib*/lumatra/*.so; do
    if ldd "$program" | grep -q 'not found'; then fail "$program misses a library"; fi
done
echo "installed and valid"
