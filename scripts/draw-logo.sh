#!/bin/sh
# Redraws the logo resources (resources/main/tavo.png and tavo@2x.png) from scripts/drawlogo.cpp
# and checks that both are 8-bit RGBA PNG files of the sizes the window expects.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2046
g++ -std=c++17 -fPIC -Wall -Wextra -o "$work/drawlogo" "$root/scripts/drawlogo.cpp" \
    $(pkg-config --cflags --libs Qt5Gui)

mkdir -p "$root/resources/main"
QT_QPA_PLATFORM=offscreen "$work/drawlogo" \
    "$root/resources/main/tavo.png" "$root/resources/main/tavo@2x.png"

# Bytes 16-25 of a PNG: IHDR width, height, bit depth, colour type.
check() {
    header=$(od -An -tu1 -j16 -N10 "$1" | tr -s ' ' | sed 's/^ //')
    expected="$2"
    if [ "$header" != "$expected" ]; then
        echo "draw-logo: $1 has header '$header', expected '$expected'" >&2
        exit 1
    fi
}
check "$root/resources/main/tavo.png" "0 0 0 77 0 0 0 72 8 6"
check "$root/resources/main/tavo@2x.png" "0 0 0 154 0 0 0 144 8 6"

echo "$root/resources/main/tavo.png"
echo "$root/resources/main/tavo@2x.png"
