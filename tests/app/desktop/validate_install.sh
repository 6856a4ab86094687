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
failed=0
expect() {
    if [[ ! -s $prefix/$1 ]]; then
        echo "missing: $1" >&2
        failed=1
    fi
}
expect bin/quillet
expect share/applications/$id.desktop
expect share/metainfo/$id.metainfo.xml
expect share/icons/hicolor/scalable/apps/quillet.svg
for size in 16 22 24 32 48 64 128 256 512; do
    png=share/icons/hicolor/${size}x${size}/apps/quillet.png
    expect "$png"
    if [[ -s $prefix/$png ]]; then
        # PNG width and height are big-endian at bytes 16 and 20.
        read -r w h < <(od -An -tu1 -j16 -N8 "$prefix/$png" |
            awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
        if [[ $w != "$size" || $h != "$size" ]]; then
            echo "wrong size: $png is ${w}x${h}" >&2
            failed=1
        fi
    fi
done
[[ -x $prefix/bin/quillet ]] || { echo "not executable: bin/quillet" >&2; failed=1; }

# The entry starts the installed program by name and names the installed icon.
grep -qx 'Exec=quillet' "$prefix/share/applications/$id.desktop" || { echo "Exec is not quillet" >&2; failed=1; }
grep -qx 'Icon=quillet' "$prefix/share/applications/$id.desktop" || { echo "Icon is not quillet" >&2; failed=1; }

desktop-file-validate "$prefix/share/applications/$id.desktop" || failed=1
appstreamcli validate --no-net --explain "$prefix/share/metainfo/$id.metainfo.xml" || failed=1
exit $failed
