#!/usr/bin/env bash
# Draws docs/dialog-contact-sheet.png: the error dialog as the user sees it for every status code
# it displays (2001-2018, 2020-2023; detail 6699, button type 1 "취소"), rendered under Wine on
# the private Xvfb display and put together with ImageMagick's montage.
#
#   scripts/contact-sheet.sh [output.png]
#
# Environment: QUENLO_BUILD_DIR, the build tree to use (default: <repo>/build); it is configured
# when it has not been yet, and the ui_contact_sheet program is built in it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${QUENLO_BUILD_DIR:-$root/build}
out=${1:-$root/docs/dialog-contact-sheet.png}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target ui_contact_sheet -j 2

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
# Z: maps the host root in the Wine prefix.
QUENLO_BUILD_DIR=$build "$here/wine-run.sh" "$build/bin/ui_contact_sheet.exe" "Z:${shots//\//\\}"

mkdir -p "$(dirname "$out")"
# Tiles in code order, labelled with the code; no time stamps, so an unchanged picture stays the
# same file.
montage -font DejaVu-Sans -pointsize 15 -label '%t' $(ls "$shots"/*.bmp | sort) \
    -tile 4x -geometry +12+10 -background '#d8d8d8' \
    -define png:exclude-chunks=date,time +set date:create +set date:modify "$out"
echo "wrote $out"
