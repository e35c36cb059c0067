#!/bin/sh
# Demonstrates the installer end to end: installs what is missing, builds it (Release) against a
# local demonstration update server, then runs it twice, a new installation and the update of an
# older version, each ended by launching the product. With DISPLAY set you answer the boxes on
# your display; without it (or with CORVANTIS_DEMO_HEADLESS=1) it runs under Xvfb, answers the
# boxes itself and saves screenshots. The installer built here (build-demo) differs from a shipped
# one only in its update server; everything else demo-specific lives in demo/.
#
# CORVANTIS_DEMO_PORT (default 8765): the server's port on 127.0.0.1.
# CORVANTIS_DEMO_STATE (default /tmp/corvantis-demo): the folder that holds all demo state.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-demo
port=${CORVANTIS_DEMO_PORT:-8765}

sh "$root/scripts/setup.sh"

echo "Building the installer for http://127.0.0.1:$port in $build ..."
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCORVANTIS_UPDATE_SERVER="http://127.0.0.1:$port" \
    -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF >"$build/demo-configure.log" 2>&1 ||
    { cat "$build/demo-configure.log" >&2; exit 1; }
cmake --build "$build" --target corvantis-installer -j2 >"$build/demo-build.log" 2>&1 ||
    { cat "$build/demo-build.log" >&2; exit 1; }
rm -f "$build/demo-configure.log" "$build/demo-build.log"

exec python3 "$root/demo/demo.py" --installer "$build/sources/corvantis-installer" --port "$port"
