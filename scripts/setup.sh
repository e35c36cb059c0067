#!/bin/sh
# Installs what building, testing, demonstrating and checking the installer needs on Debian 12,
# saying in one line what and why; apt-get's own output goes to a log that is shown only if it
# fails. Safe to run again: only missing packages are fetched.
set -eu

# What each group of packages is for (before the colon), then the packages.
needs="
building: cmake g++ make pkg-config qtbase5-dev libminizip-dev zlib1g-dev
the tests: openssl ca-certificates zip python3
the demonstration: xvfb xdotool x11-apps imagemagick jwm
fuzzing: clang libclang-rt-14-dev
the benchmark: curl time nginx-light unzip libarchive-tools
the macOS source checks: libgnustep-base-dev libgnustep-gui-dev clang util-linux mount
the script and format checks: shellcheck clang-format
"

missing=""
purposes=""
while IFS=: read -r purpose packages; do
    [ -n "$purpose" ] || continue
    wanted=""
    for package in $packages; do
        if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
            missing="$missing $package"
            wanted=yes
        fi
    done
    if [ -n "$wanted" ]; then
        purposes="${purposes:+$purposes, }$purpose"
    fi
done <<EOF
$needs
EOF

if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages:$missing; run this script as root" >&2
        exit 1
    fi
    # apt-get's own output, hundreds of lines, goes to a log that is shown only if it fails.
    log=$(mktemp "${TMPDIR:-/tmp}/corvantis-setup.XXXXXX.log")
    count=$(echo "$missing" | wc -w)
    echo "setup: installing $count Debian packages for $purposes (apt-get's output: $log)"
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck disable=SC2086
    if ! { apt-get update -q && apt-get install -y -q --no-install-recommends $missing; } \
        >"$log" 2>&1; then
        cat "$log" >&2
        echo "setup: apt-get failed; its output is above and in $log" >&2
        exit 1
    fi
fi
