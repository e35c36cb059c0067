#!/bin/sh
# Redraws the logo resources (resources/main/tavo.png and tavo@2x.png) and the application
# bundle's icon (resources/corvantis-installer.icns) from scripts/drawlogo.cpp, and checks that the
# logos are 8-bit RGBA PNG files of the sizes the window expects and that the icon holds the
# sizes of a macOS iconset.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2046
g++ -std=c++17 -fPIC -Wall -Wextra -o "$work/drawlogo" "$root/scripts/drawlogo.cpp" \
    $(pkg-config --cflags --libs Qt5Gui)

mkdir -p "$root/resources/main"
QT_QPA_PLATFORM=offscreen "$work/drawlogo" \
    "$root/resources/main/tavo.png" "$root/resources/main/tavo@2x.png" \
    "$root/resources/corvantis-installer.icns"

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

# The icon: "icns" and the file's length, then entries of a type code, a length (header
# included) and a PNG; lengths are big-endian. Each PNG must be square RGBA of its entry's size.
icns="$root/resources/corvantis-installer.icns"
be32() {
    od -An -tu4 --endian=big -j"$2" -N4 "$1" | tr -d ' '
}
size=$(wc -c <"$icns")
if [ "$(head -c 4 "$icns")" != icns ] || [ "$(be32 "$icns" 4)" -ne "$size" ]; then
    echo "draw-logo: $icns does not start as an .icns file of $size bytes" >&2
    exit 1
fi
offset=8
for entry in icp4:16 ic11:32 icp5:32 ic12:64 ic07:128 ic13:256 ic08:256 ic14:512 ic09:512 ic10:1024; do
    type=$(dd if="$icns" bs=1 skip="$offset" count=4 2>/dev/null)
    pixels=${entry#*:}
    png=$((offset + 8))
    header="$(be32 "$icns" $((png + 16))) $(be32 "$icns" $((png + 20)))"
    header="$header $(od -An -tu1 -j$((png + 24)) -N2 "$icns" | tr -s ' ' | sed 's/^ //')"
    if [ "$type" != "${entry%%:*}" ] || [ "$header" != "$pixels $pixels 8 6" ]; then
        echo "draw-logo: $icns at $offset has '$type' '$header', expected '$entry'" >&2
        exit 1
    fi
    offset=$((offset + $(be32 "$icns" $((offset + 4)))))
done
if [ "$offset" -ne "$size" ]; then
    echo "draw-logo: $icns has $((size - offset)) bytes after its last entry" >&2
    exit 1
fi

echo "$root/resources/main/tavo.png"
echo "$root/resources/main/tavo@2x.png"
echo "$icns"
