#!/bin/bash
# Makes the macOS release, on a Mac with Xcode's command-line tools and Qt 5.15: a Release build
# of the application bundle, Qt's frameworks and plug-ins put into it by macdeployqt, everything
# signed with the hardened runtime, the bundle notarised and its ticket stapled, then a compressed
# disk image named after the version, itself signed, notarised and stapled. The result is
# <build>/Corvantis-Installer-<version>.dmg.
#
# CORVANTIS_PACKAGE_TEAM (required): the maker's team ID, ten upper-case letters or digits.
# CORVANTIS_SIGN_IDENTITY (required): the signing identity in the keychain, for instance
#     "Developer ID Application: <name> (<team ID>)".
# CORVANTIS_NOTARY_PROFILE (required): the notarytool keychain profile, made once with
#     xcrun notarytool store-credentials.
# CORVANTIS_UPDATE_SERVER (optional): the update server built in; CMake's default otherwise.
# BUILD_DIR (optional): the build folder, build-release by default.
# Qt is found as CMake finds it (CMAKE_PREFIX_PATH or Qt5_DIR); macdeployqt is taken from the bin
# folder of that Qt, or else from PATH.
set -euo pipefail

if [ "$(uname -s)" != Darwin ]; then
    echo "package-mac: the macOS release can only be made on macOS; this is $(uname -s)" >&2
    exit 1
fi

fail() {
    echo "package-mac: $*" >&2
    exit 1
}

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}
team=${CORVANTIS_PACKAGE_TEAM:-}
identity=${CORVANTIS_SIGN_IDENTITY:-}
profile=${CORVANTIS_NOTARY_PROFILE:-}

if [ ${#team} -ne 10 ] || [ -n "${team//[0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ]/}" ]; then
    fail "CORVANTIS_PACKAGE_TEAM must be the maker's team ID, ten upper-case letters or digits" \
        "(it is '$team'); no release is built without it"
fi
[ -n "$identity" ] || fail "CORVANTIS_SIGN_IDENTITY must name the signing identity"
[ -n "$profile" ] || fail "CORVANTIS_NOTARY_PROFILE must name the notarytool keychain profile"
identities=$(security find-identity -v -p codesigning)
grep -qF -- "$identity" <<<"$identities" ||
    fail "no valid code signing identity \"$identity\" in the keychain"

version=$(sed -n -E 's/^project\(.*VERSION +([0-9][0-9.]*).*/\1/p' "$root/CMakeLists.txt" | head -n 1)
[ -n "$version" ] || fail "no project() VERSION found in CMakeLists.txt"
dmg=$build/Corvantis-Installer-$version.dmg
echo "package-mac: Corvantis Installer $version for team $team into $dmg"

# --- build ----------------------------------------------------------------------------------------

# A fresh bundle each time: nothing left over from an earlier deployment or signature.
app="$build/sources/Corvantis Installer.app"
rm -rf "$app"
configure=(-S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_OSX_DEPLOYMENT_TARGET=10.13
    -DCORVANTIS_PACKAGE_TEAM="$team" -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF)
if [ -n "${CORVANTIS_UPDATE_SERVER:-}" ]; then
    configure+=(-DCORVANTIS_UPDATE_SERVER="$CORVANTIS_UPDATE_SERVER")
fi
cmake "${configure[@]}"
cmake --build "$build" --target corvantis-installer --parallel "$(sysctl -n hw.ncpu)"
[ -d "$app" ] || fail "the build made no bundle at $app"

# --- Qt into the bundle -----------------------------------------------------------------------------

# Qt5Core_DIR is <Qt>/lib/cmake/Qt5Core.
qtcore=$(sed -n 's/^Qt5Core_DIR:PATH=//p' "$build/CMakeCache.txt")
deploy=$qtcore/../../../bin/macdeployqt
if [ ! -x "$deploy" ]; then
    deploy=$(command -v macdeployqt) || fail "macdeployqt is neither in Qt's bin folder nor on PATH"
fi
"$deploy" "$app" -always-overwrite

# --- signing, inside out: libraries and plug-ins, frameworks, then the bundle ---------------------

sign() {
    codesign --force --timestamp --options runtime --sign "$identity" "$@"
}
while IFS= read -r -d '' library; do
    sign "$library"
done < <(find "$app/Contents" -type f -name '*.dylib' -print0)
while IFS= read -r -d '' framework; do
    sign "$framework"
done < <(find "$app/Contents/Frameworks" -maxdepth 1 -type d -name '*.framework' -print0)
sign "$app"
codesign --verify --deep --strict --verbose=2 "$app"
signature=$(codesign --display --verbose=2 "$app" 2>&1)
grep -qx "TeamIdentifier=$team" <<<"$signature" || fail "$identity does not belong to team $team"
grep -q '^CodeDirectory .*(runtime)' <<<"$signature" || fail "the bundle lacks the hardened runtime"

# --- notarisation -----------------------------------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/corvantis-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# notarise <file>: submits the file, waits for Apple's verdict and fails unless it is "Accepted",
# printing the notary log then.
notarise() {
    local result=$work/notary.plist status id
    if ! xcrun notarytool submit "$1" --keychain-profile "$profile" --wait --output-format plist \
        >"$result"; then
        cat "$result" >&2
        fail "notarytool could not submit $1"
    fi
    status=$(/usr/libexec/PlistBuddy -c 'Print :status' "$result" 2>/dev/null || true)
    if [ "$status" != Accepted ]; then
        cat "$result" >&2
        id=$(/usr/libexec/PlistBuddy -c 'Print :id' "$result" 2>/dev/null || true)
        if [ -n "$id" ]; then
            xcrun notarytool log "$id" --keychain-profile "$profile" >&2 || true
        fi
        fail "notarisation of $1 ended as '$status'"
    fi
}

# The notary service takes a bundle only in an archive; the ticket is stapled to the bundle itself.
ditto -c -k --keepParent "$app" "$work/Corvantis Installer.zip"
notarise "$work/Corvantis Installer.zip"
xcrun stapler staple "$app"
spctl --assess --type execute --verbose=2 "$app"

# --- disk image -------------------------------------------------------------------------------------

mkdir "$work/image"
ditto "$app" "$work/image/Corvantis Installer.app"
rm -f "$dmg"
hdiutil create -volname "Corvantis Installer $version" -srcfolder "$work/image" -format UDZO \
    -imagekey zlib-level=9 "$dmg"
codesign --force --timestamp --sign "$identity" "$dmg"
notarise "$dmg"
xcrun stapler staple "$dmg"
spctl --assess --type open --context context:primary-signature --verbose=2 "$dmg"

echo "package-mac: $dmg"
