#!/usr/bin/env bash
# Produces OUTDIR/UbuntuMono-R.ttf (Ubuntu Mono Regular, TrueType) and
# OUTDIR/UFL.txt (the Ubuntu Font Licence shipped with it).
#
# Source: the @fontsource/ubuntu-mono npm package. It ships only web fonts
# split into unicode-range subsets; there is no complete file. We take the
# "latin" 400-normal subset: printable ASCII, Latin-1 (U+00A0-U+00FF, so
# accented Western European letters such as e-acute and sharp s), a few
# typographic signs (dashes, quotes, bullet, ellipsis, euro, trade mark,
# minus). Cyrillic, Greek and Latin Extended live in other subset files and
# are not included.
#
# Requires npm, woff2_decompress (Debian package woff2) and fc-scan
# (Debian package fontconfig) to check the result. Safe to run repeatedly:
# a valid existing output is left alone.
set -euo pipefail

die() { echo "fetch-fallback-font: $*" >&2; exit 1; }

[ $# -eq 1 ] || die "usage: $0 OUTDIR"
outdir=$1
pkg=@fontsource/ubuntu-mono
subset=ubuntu-mono-latin-400-normal.woff2
ttf=$outdir/UbuntuMono-R.ttf
licence=$outdir/UFL.txt

command -v npm >/dev/null 2>&1 || die "npm not found (install Debian package npm)"
command -v woff2_decompress >/dev/null 2>&1 || die "woff2_decompress not found (install Debian package woff2)"
command -v fc-scan >/dev/null 2>&1 || die "fc-scan not found (install Debian package fontconfig)"

# fc-scan reads the file through FreeType, so a match proves it opens.
is_valid_font() {
    [ -s "$1" ] || return 1
    local family format
    family=$(fc-scan --format '%{family}' "$1" 2>/dev/null) || return 1
    format=$(fc-scan --format '%{fontformat}' "$1" 2>/dev/null) || return 1
    [ "$family" = "Ubuntu Mono" ] && [ "$format" = "TrueType" ]
}

if is_valid_font "$ttf" && [ -s "$licence" ]; then
    echo "fetch-fallback-font: $ttf already present"
    exit 0
fi

mkdir -p "$outdir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && npm pack --silent "$pkg" >/dev/null) || die "npm pack $pkg failed"
tarball=$(ls "$work"/*.tgz 2>/dev/null | head -n 1)
[ -n "$tarball" ] || die "npm pack produced no tarball"
tar -xzf "$tarball" -C "$work" || die "cannot unpack $tarball"

src=$work/package/files/$subset
[ -f "$src" ] || die "$subset not found in $pkg"
[ -f "$work/package/LICENSE" ] || die "$pkg carries no LICENSE file"

woff2_decompress "$src" >/dev/null || die "woff2_decompress failed on $subset"
converted=${src%.woff2}.ttf
is_valid_font "$converted" || die "converted font is not a TrueType Ubuntu Mono"

# Write via temporary names so an interrupted run never leaves a half file
# that the validity check above could accept.
cp "$converted" "$ttf.tmp" && mv "$ttf.tmp" "$ttf"
cp "$work/package/LICENSE" "$licence.tmp" && mv "$licence.tmp" "$licence"
echo "fetch-fallback-font: wrote $ttf and $licence"
