#!/bin/bash
# Runs the macOS-only code on Debian: sources/systemplatform_mac.mm, as it ships, built with clang
# as Objective-C++ against GNUstep Base, with the portable logic it is used with, into the
# platform's own suite (tests/tst_systemplatform.cpp, the table its portable twin is held to).
# Its receipt and signature queries run through GNUstep's NSTask and NSPipe against the tests'
# stand-in pkgutil; what GNUstep lacks (the volume list, file-system paths of URLs, AppleScript)
# comes from the test-only stand-ins in scripts/mac-check/standins.mm. The file starts
# /usr/sbin/pkgutil by that path, so the suite runs in a mount namespace of its own with an
# empty /usr/sbin for the stand-in; nothing of the machine's changes. The title bar
# (installerwindow_titlebar_mac.mm) is left to check-mac-sources.sh: it takes its NSView from
# the window's native id, which only Qt's Cocoa platform gives. Prints
# "macOS code run-time checks: N passed, M failed" and fails unless every row passed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/setup.sh"
build="$root/build-mac-runtime"
mkdir -p "$build"

# GNUstep's own flags and GCC's Objective-C runtime headers, after clang's (see
# check-mac-sources.sh); scripts/mac-check/ declares the Apple names GNUstep lacks.
objc=$(dirname "$(dirname "$(gcc -print-file-name=include/objc/objc.h)")")
read -ra gnustep <<<"$(gnustep-config --objc-flags)"
read -ra gnustepLibs <<<"$(gnustep-config --base-libs)"
read -ra qt <<<"$(pkg-config --cflags Qt5Core Qt5Test)"
read -ra qtLibs <<<"$(pkg-config --libs Qt5Core Qt5Test)"
common=(-std=c++17 -fPIC -Wall -Wextra -Werror "${qt[@]}" -I"$root/sources"
    -I"$root/tests" -I"$build" -DCORVANTIS_MAC_RUNTIME -DCORVANTIS_TESTS_DIR="\"$root/tests\"")
objcxx=(-x objective-c++ -fobjc-runtime=gcc -fobjc-exceptions -I"$root/scripts/mac-check"
    "${gnustep[@]}" -idirafter "$objc")

"$(pkg-config --variable=host_bins Qt5Core)/moc" "$root/tests/tst_systemplatform.cpp" -o "$build/tst_systemplatform.moc"
objects=()
compile() { # <source> [flags...]
    objects+=("$build/$(basename "$1").o")
    clang++ "${common[@]}" "${@:2}" -c "$1" -o "${objects[-1]}"
}
compile "$root/sources/systemplatform_mac.mm" "${objcxx[@]}"
compile "$root/scripts/mac-check/standins.mm" "${objcxx[@]}"
for file in platform applescripts receipt versionnumber packagesignature; do
    compile "$root/sources/$file.cpp"
done
for file in tst_systemplatform standins testenvironment; do
    compile "$root/tests/$file.cpp"
done
suite="$build/tst_systemplatform_mac"
clang++ "${objects[@]}" -o "$suite" "${qtLibs[@]}" "${gnustepLibs[@]}"

# A /usr/sbin of the suite's own, empty and writable: it puts the stand-in pkgutil there. As root
# a mount namespace is enough; otherwise the user becomes root of a user namespace first. The
# last volume mounted there has blanks, quotes and accents in its path, which must come back.
namespace=(unshare --mount --propagation private)
if [ "$(id -u)" -ne 0 ]; then
    namespace+=(--map-root-user)
fi
volumes=$(mktemp -d)
trap 'rm -rf "$volumes"' EXIT
lastVolume="$volumes/Données 'à' \"vol\" 2"
mkdir "$lastVolume"
# Its results go to files; its standard error holds what the stand-in tools print there.
results="$build/results.tap"
: >"$results"
: >"$build/results.txt"
status=0
# shellcheck disable=SC2016 # expanded by the shell in the namespace
"${namespace[@]}" sh -c 'mount -t tmpfs -o mode=755 corvantis-sbin /usr/sbin &&
    mount -t tmpfs corvantis-volume "$1" && shift && exec "$@"' sh "$lastVolume" \
    env QT_QPA_PLATFORM=offscreen CORVANTIS_LAST_VOLUME="$lastVolume" "$suite" \
    -o "$results",tap -o "$build/results.txt",txt 2>"$build/stderr.txt" || status=$?
# Rows: the suite's set-up and clean-up are not counted unless they fail.
passed=$(grep -v -e ' - initTestCase()$' -e ' - cleanupTestCase()$' "$results" | grep -c '^ok ' ||
    true)
failed=$(grep -c '^not ok ' "$results" || true)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    failed=1 # it ended before its last row, or never started
fi
if [ "$failed" -ne 0 ]; then
    cat "$build/results.txt" "$build/stderr.txt" >&2 || true
fi
echo "macOS code run-time checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
