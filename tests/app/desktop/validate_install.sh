#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks that every file a desktop looks up is there,
# and validates the launcher entry and the AppStream metadata.
# Usage: validate_install.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
prefix=$2/prefix
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

id=io.github.quillet.Quillet
entry=$prefix/share/applications/$id.desktop
failed=0
fail() { echo "$1" >&2; failed=1; }
for file in bin/quillet share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/quillet.svg; do
    [[ -s $prefix/$file ]] || fail "missing: $file"
done
[[ -x $prefix/bin/quillet ]] || fail "not executable: bin/quillet"
for size in 16 22 24 32 48 64 128 256 512; do
    png=share/icons/hicolor/${size}x${size}/apps/quillet.png
    [[ -s $prefix/$png ]] || { fail "missing: $png"; continue; }
    # PNG width and height are big-endian at bytes 16 and 20.
    read -r w h < <(od -An -tu1 -j16 -N8 "$prefix/$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [[ $w == "$size" && $h == "$size" ]] || fail "wrong size: $png is ${w}x${h}"
done

# The entry starts the installed program by name and names the installed icon.
grep -qx 'Exec=quillet' "$entry" || fail "Exec is not quillet"
grep -qx 'Icon=quillet' "$entry" || fail "Icon is not quillet"
desktop-file-validate "$entry" || failed=1
appstreamcli validate --no-net --explain "$prefix/share/metainfo/$id.metainfo.xml" || failed=1
exit $failed
