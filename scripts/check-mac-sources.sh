#!/bin/bash
# Compile-checks the macOS-only sources (sources/*.mm, or the files given as arguments) on Debian:
# clang parses them as Objective-C++ against GNUstep's Foundation and AppKit headers and Qt's.
# scripts/mac-check/ stands in front of GNUstep's two umbrella headers and adds the newer Apple
# names GNUstep lacks, so a file sees them only through its own #import. Every warning is an
# error: a mistyped selector, a wrong argument type or a missing #import fails. Nothing is linked
# or run: this is not a macOS build.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/setup.sh"

gnustep=/usr/include/GNUstep
if [ ! -f "$gnustep/Foundation/Foundation.h" ] || [ ! -f "$gnustep/AppKit/AppKit.h" ]; then
    echo "check-mac-sources: GNUstep's headers are missing from $gnustep (see scripts/setup.sh)" >&2
    exit 1
fi
# Debian's GNUstep is built for GCC's Objective-C runtime, whose headers (objc/*.h) live in GCC's
# own include folder. It goes after clang's, so that clang keeps its own built-in headers.
objc=$(dirname "$(dirname "$(gcc -print-file-name=include/objc/objc.h)")")
if [ ! -f "$objc/objc/objc.h" ]; then
    echo "check-mac-sources: GCC's Objective-C runtime headers are missing (see scripts/setup.sh)" >&2
    exit 1
fi

read -ra qt <<<"$(pkg-config --cflags Qt5Core Qt5Gui Qt5Widgets)"
# Qt demands position-independent code. No -fblocks: GCC's runtime has no blocks. "'X' may not
# respond to 'y'" has no warning flag of its own, so only -Werror turns it into an error.
flags=(
    -x objective-c++ -std=c++17 -fsyntax-only -fobjc-runtime=gcc -fPIC
    -Wall -Wextra -Wundeclared-selector -Wstrict-selector-match -Werror=objc-method-access -Werror
    -I"$root/scripts/mac-check" -isystem "$gnustep" -idirafter "$objc" "${qt[@]}" -I"$root/sources"
)

if [ $# -eq 0 ]; then
    set -- "$root"/sources/*.mm
fi
failed=0
for file in "$@"; do
    if [ ! -f "$file" ]; then
        echo "check-mac-sources: no file $file" >&2
        exit 1
    fi
    if clang++ "${flags[@]}" "$file"; then
        echo "check-mac-sources: ${file#"$root"/} ok"
    else
        echo "check-mac-sources: ${file#"$root"/} FAILED" >&2
        failed=1
    fi
done
exit "$failed"
