#!/bin/sh
# Installs what building, testing and demonstrating the installer needs on Debian 12. Safe to run
# again: only missing packages are fetched.
set -eu

packages="
    cmake g++ make pkg-config
    qtbase5-dev libminizip-dev zlib1g-dev
    openssl ca-certificates
    zip unzip libarchive-tools p7zip-full python3
    xvfb xdotool x11-apps imagemagick jwm
    clang libclang-rt-14-dev
    curl time nginx-light
"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages:$missing; run this script as root" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
fi
