#!/usr/bin/env bash
# The files the package adds around the programs, from "cmake --install" into
# a staging folder: Debian's copyright and changelog, the manual pages, the
# file types (recognised through a private MIME database as a desktop would),
# the menu entry and the AppStream description, each checked with the tool
# that a desktop or a distribution reads it with.
#
# Usage: package_files_test.sh BUILD_DIR MAN_DIR VERSION
set -euo pipefail

fail() { echo "package_files_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 3 ]] || fail "usage: $0 BUILD_DIR MAN_DIR VERSION"
build=$(realpath "$1")
man_dir=$(realpath "$2")
version=$3
for tool in cmake groff dpkg-parsechangelog update-mime-database xdg-mime gio \
    desktop-file-validate appstreamcli xmllint; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing; see scripts/build_packages.txt"
done

here=$(dirname "$(realpath "$0")")
source "$here/lib/staged_install.sh"
stage_install "$build"
share=$stage/usr/share
doc=$share/doc/skarnel

# gzip -9n: no file name and no time stamp in the header (flags byte 0, time
# bytes 0), so that building twice gives the same package.
reproducible_gzip() {
    gzip -t "$1" || fail "$1 is no valid gzip file"
    [[ $(od -An -tx1 -j3 -N5 "$1" | tr -d ' \n') == 0000000000 ]] ||
        fail "$1 carries a file name or time stamp (not gzip -n)"
}

# Debian's copyright file: machine-readable, naming the program and its owner.
copyright=$doc/copyright
[[ -f $copyright ]] || fail "no $copyright"
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file does not start with the DEP-5 Format line"
for field in 'Upstream-Name: Skarnel' 'Files: \*' 'Copyright: 2026 Orvane' 'License: proprietary'; do
    grep -qx "$field" "$copyright" || fail "the copyright file lacks '$field'"
done
grep -q '@' <(grep -v '^Upstream-Contact:' "$copyright") && fail "an unfilled @VARIABLE@ in the copyright file"

# The changelog: parsed as dpkg parses it, for this very version.
changelog=$doc/changelog.gz
[[ -f $changelog ]] || fail "no $changelog"
reproducible_gzip "$changelog"
zcat "$changelog" >"$work/changelog"
parsed=$(dpkg-parsechangelog -l "$work/changelog" 2>"$work/parse.err") ||
    fail "dpkg cannot read the changelog: $(cat "$work/parse.err")"
[[ -z $(grep -v '^$' "$work/parse.err" || true) ]] || fail "dpkg warns about the changelog: $(cat "$work/parse.err")"
grep -qx "Version: $version" <<<"$parsed" || fail "the changelog is not for $version:
$parsed"
grep -qx 'Source: skarnel' <<<"$parsed" || fail "the changelog is not skarnel's"

# Every page in man/, compressed, and clean for groff's warnings.
shopt -s nullglob
pages=("$man_dir"/*.1)
[[ ${#pages[@]} -gt 0 ]] || fail "no manual page in $man_dir"
for page in "${pages[@]}"; do
    installed=$share/man/man1/$(basename "$page").gz
    [[ -f $installed ]] || fail "$(basename "$page") is not installed as $installed"
    reproducible_gzip "$installed"
    cmp -s <(zcat "$installed") "$page" || fail "$installed is not $(basename "$page")"
    warnings=$(zcat "$installed" | groff -man -Tutf8 -ww -z 2>&1)
    [[ -z $warnings ]] || fail "groff warns about $(basename "$page"): $warnings"
done

# The file types, as a desktop recognises them: a preset file by its header
# whatever its name, a script by its extension.
mime_xml=$share/mime/packages/org.orvane.Skarnel.xml
[[ -f $mime_xml ]] || fail "no $mime_xml"
xmllint --noout "$mime_xml" || fail "$mime_xml is no well-formed XML"
# (It notes on standard error that the staged folder is not a system one.)
update-mime-database "$share/mime" >/dev/null 2>"$work/mime.log" ||
    fail "update-mime-database rejected $mime_xml: $(cat "$work/mime.log")"
files=$work/files
mkdir "$files"
preset_header() { printf '\022WBQ Preset File V%s' "$1"; head -c 10514 /dev/zero; }
preset_header 1 >"$files/session preset.bin"
preset_header 1 >"$files/room.wbq"
preset_header 1 >"$files/room.vlm"
preset_header 2 >"$files/other version.bin"
printf 'rem burn-in\nplay 1 /tmp/room.vlm\nend\n' >"$files/burn-in.wbs"
printf 'WBQ Preset File V1 is not at the start\n' >"$files/notes.bin"
expect_type() {
    local found
    found=$(XDG_DATA_HOME=$share XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=GNOME \
        xdg-mime query filetype "$files/$1")
    [[ $found == "$2" ]] || fail "'$1' was taken for '$found', not '$2'"
}
expect_type "session preset.bin" application/x-skarnel-preset
expect_type room.wbq application/x-skarnel-preset
expect_type room.vlm application/x-skarnel-preset
expect_type "other version.bin" application/octet-stream
expect_type burn-in.wbs text/x-skarnel-script
expect_type notes.bin text/plain
grep -q 'sub-class-of type="text/plain"' "$share/mime/text/x-skarnel-script.xml" ||
    fail "scripts are not a kind of plain text (text editors would not offer to open them)"

# The menu entry opens both types, which the MIME database must know.
desktop=$share/applications/org.orvane.Skarnel.desktop
[[ -f $desktop ]] || fail "no $desktop"
desktop-file-validate "$desktop" || fail "the menu entry is not valid"
mime_types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | grep -v '^$' || true)
[[ -n $mime_types ]] || fail "the menu entry names no MimeType"
for type in application/x-skarnel-preset text/x-skarnel-script; do
    grep -qx "$type" <<<"$mime_types" || fail "the menu entry does not open $type"
done
while read -r type; do
    [[ -f $share/mime/$type.xml ]] || fail "the menu entry names $type, which no MIME file defines"
done <<<"$mime_types"

# The software-centre description, and the files it points to.
metainfo=$share/metainfo/org.orvane.Skarnel.metainfo.xml
[[ -f $metainfo ]] || fail "no $metainfo"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli rejects the metainfo: $(cat "$work/appstream.log")"
launchable=$(xmllint --xpath 'string(//launchable[@type="desktop-id"])' "$metainfo")
[[ -f $share/applications/$launchable ]] || fail "the metainfo launches '$launchable', which is not installed"
release=$(xmllint --xpath 'string(//release/@version)' "$metainfo")
[[ $release == "$version" ]] || fail "the metainfo's release is '$release', not $version"
for binary in $(xmllint --xpath '//provides/binary/text()' "$metainfo"); do
    [[ -e $stage/usr/bin/$binary ]] || fail "the metainfo provides $binary, which is not in usr/bin"
done
for type in $(xmllint --xpath '//provides/mediatype/text()' "$metainfo"); do
    grep -qx "$type" <<<"$mime_types" || fail "the metainfo provides $type, which the menu entry does not open"
done
echo "package_files_test: PASS"
