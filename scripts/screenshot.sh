#!/bin/sh
# Saves a picture of the installer window during a download (offscreen, no display needed) and
# prints its path. Usage: scripts/screenshot.sh [output.png (default: <build>/screenshot.png)]
#     [progress 0-1000 (default: 350)]
# BUILD_DIR picks the build directory (default: build); SCALE=2 shows the double-density look.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
output=${1:-$build/screenshot.png}
progress=${2:-350}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target formshot -j2 >/dev/null

case "$output" in
/*) ;;
*) output=$(pwd)/$output ;;
esac
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=${SCALE:-1} "$build/formshot" "$output" "$progress"
echo "$output"
