#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each for the given number of seconds (default 20) from a scratch copy of its seed corpus in
# fuzz/corpus/, which therefore never grows. Exits non-zero on the first finding; the input that
# caused it is kept in $BUILD_DIR/fuzz-findings/<target>/. BUILD_DIR picks the build folder.
set -eu
cd "$(dirname "$0")/.."

seconds="${1:-20}"
case "$seconds" in
'' | *[!0-9]*)
    echo "usage: $0 [seconds]" >&2
    exit 2
    ;;
esac

sh scripts/setup.sh
build="${BUILD_DIR:-build-fuzz}"
targets="fuzz_updateinfo fuzz_version fuzz_unzipper"

CC=clang CXX=clang++ cmake -S . -B "$build" -DCORVANTIS_BUILD_FUZZ=ON -DCORVANTIS_WERROR=ON \
    -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF
# shellcheck disable=SC2086
cmake --build "$build" --parallel "$(nproc)" --target $targets

# The unzipper target writes files on every run: in memory it runs several times as fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch="$(mktemp -d /dev/shm/corvantis-fuzz.XXXXXX)"
else
    scratch="$(mktemp -d)"
fi
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
binaries="$(cd "$build" && pwd)/fuzz"
findings="$(cd "$build" && pwd)/fuzz-findings"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for target in $targets; do
    leaks=1
    # Qt 5.15's JSON parser leaks an array or object that a later duplicate key replaces
    # ({"a":[1],"a":2}); nothing there is ours, and the unwinder cannot see past Qt to tell
    # such a leak from one of ours, so this target does not check for leaks.
    if [ "$target" = fuzz_updateinfo ]; then
        leaks=0
    fi
    corpus="$scratch/${target#fuzz_}"
    cp -R "fuzz/corpus/${target#fuzz_}" "$corpus"
    mkdir -p "$findings/$target"
    echo "fuzz: $target for ${seconds}s"
    # Files the targets write go below the scratch folder too, and go with it.
    if ! TMPDIR="$scratch" ASAN_OPTIONS="detect_leaks=$leaks:abort_on_error=1" \
        "$binaries/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -detect_leaks="$leaks" -print_final_stats=1 -artifact_prefix="$findings/$target/" \
        "$corpus"; then
        echo "fuzz: $target found a problem; the input is in $findings/$target/" >&2
        exit 1
    fi
done
echo "fuzz: no findings"
