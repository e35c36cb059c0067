#!/bin/sh
# Demonstrates the installer end to end: installs what is missing, builds it (Release) against a
# local demonstration update server, then runs it three times: a new installation and the update
# of an older version, each ended by launching the product, and a package signed by another
# developer team, which the installer refuses. With DISPLAY set you answer the boxes on your
# display; without it (or with CORVANTIS_DEMO_HEADLESS=1) it runs under Xvfb, answers the boxes
# itself and saves screenshots. The installer built here (build-demo) differs from a shipped one
# only in its update server and its required package team; everything else demo-specific lives
# in demo/.
#
# CORVANTIS_DEMO_PORT (default 8765): the server's port on 127.0.0.1.
# CORVANTIS_DEMO_STATE (default /tmp/corvantis-demo): the folder that holds all demo state.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-demo
port=${CORVANTIS_DEMO_PORT:-8765}

sh "$root/scripts/setup.sh"

# The demonstration's packages are signed by this team, and the installer requires it.
team=$(python3 -B -c 'import sys; sys.path.insert(0, sys.argv[1]); import demopkg; print(demopkg.TEAM)' \
    "$root/demo")

echo "Building the installer for http://127.0.0.1:$port (packages signed by team $team) in $build ..."
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCORVANTIS_UPDATE_SERVER="http://127.0.0.1:$port" -DCORVANTIS_PACKAGE_TEAM="$team" \
    -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF >"$build/demo-configure.log" 2>&1 ||
    { cat "$build/demo-configure.log" >&2; exit 1; }
# The compiler's output goes to the log; what shows is one line per target built and, on a
# terminal, the file being compiled, rewritten in place.
progress() {
    while IFS= read -r line; do
        step=${line%%]*}]
        case $line in
        "["*"] Building "*)
            if [ -t 1 ]; then
                file=${line##*/}
                printf '\r\033[K  %s %s' "$step" "${file%.o}"
            fi
            ;;
        "["*"] Built target "*_autogen) ;;
        "["*"] Built target "*)
            if [ -t 1 ]; then
                printf '\r\033[K'
            fi
            echo "  $step ${line##* }"
            ;;
        esac
    done
    if [ -t 1 ]; then
        printf '\r\033[K'
    fi
}
rm -f "$build/demo-build.status"
{
    status=0
    cmake --build "$build" --target corvantis-installer -j2 2>&1 || status=$?
    echo "$status" >"$build/demo-build.status"
} | tee "$build/demo-build.log" | progress
[ "$(cat "$build/demo-build.status")" = 0 ] || { cat "$build/demo-build.log" >&2; exit 1; }
rm -f "$build/demo-configure.log" "$build/demo-build.log" "$build/demo-build.status"

exec python3 "$root/demo/demo.py" --installer "$build/sources/corvantis-installer" --port "$port"
