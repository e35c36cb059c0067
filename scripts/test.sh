#!/bin/sh
# Sets up a fresh Debian 12 machine (as root), builds the installer and its tests, and runs the
# whole test suite. Pass further CMake options as arguments; BUILD_DIR picks the build folder.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCORVANTIS_BUILD_TESTS=ON "$@"
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)"
