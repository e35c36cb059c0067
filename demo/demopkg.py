"""The demonstration's package format and receipt database.

A demo package is a gzip-compressed tar archive holding "PackageInfo" (JSON: identifier, title,
version and, for a signed package, the signer's name and team) and the tree "Payload/" that is
laid onto the target volume. The product in it is a
small shell script that records each start in <volume>/Library/Logs/Corvantis/launches.txt.

Receipts live in $CORVANTIS_DEMO_STATE/receipts/<identifier>, in the text form that the receipt
tool prints ("key: value" lines).
"""
import io
import json
import os
import shutil
import tarfile
import tempfile
import time

IDENTIFIER = "com.halvery.pkg.Corvantis"
# The developer team the demonstration's installer is built to require, and the maker's name on
# its certificate.
TEAM = "HLVRYDEMO1"
MAKER = "Halvery Ltd"
APP_FOLDER = "Applications/Corvantis"
EXECUTABLE = APP_FOLDER + "/Corvantis.app/Contents/MacOS/Corvantis"
LAUNCH_RECORD = "Library/Logs/Corvantis/launches.txt"

PRODUCT_SCRIPT = """#!/bin/sh
# Corvantis {version} (demonstration build): records each start on its own volume.
here=$(cd "$(dirname "$0")" && pwd -P)
volume=${{here%/Applications/Corvantis/Corvantis.app/Contents/MacOS}}
mkdir -p "$volume/Library/Logs/Corvantis"
echo "$(date '+%Y-%m-%d %H:%M:%S') Corvantis {version} started" >> "$volume/{record}"
"""

INFO_PLIST = """<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>CFBundleExecutable</key><string>Corvantis</string>
    <key>CFBundleIdentifier</key><string>com.halvery.Corvantis</string>
    <key>CFBundleShortVersionString</key><string>{version}</string>
</dict>
</plist>
"""


class PackageError(Exception):
    pass


def _add_file(archive, name, data, mode):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mode = mode
    info.mtime = int(time.time())
    archive.addfile(info, io.BytesIO(data))


def _add_folder(archive, name):
    info = tarfile.TarInfo(name)
    info.type = tarfile.DIRTYPE
    info.mode = 0o755
    info.mtime = int(time.time())
    archive.addfile(info)


def make_package(path, version, signer=(MAKER, TEAM)):
    """Writes the package of the given product version to path, signed by (name, team)."""
    with tarfile.open(path, "w:gz") as archive:
        info = {"identifier": IDENTIFIER, "title": "Corvantis", "version": version}
        if signer:
            info["signer"] = {"name": signer[0], "team": signer[1]}
        _add_file(archive, "PackageInfo", (json.dumps(info, indent=2) + "\n").encode(), 0o644)
        folder = "Payload"
        _add_folder(archive, folder)
        for part in EXECUTABLE.split("/")[:-1]:
            folder += "/" + part
            _add_folder(archive, folder)
        _add_file(archive, "Payload/" + APP_FOLDER + "/Corvantis.app/Contents/Info.plist",
                  INFO_PLIST.format(version=version).encode(), 0o644)
        _add_file(archive, "Payload/" + EXECUTABLE,
                  PRODUCT_SCRIPT.format(version=version, record=LAUNCH_RECORD).encode(), 0o755)


def read_info(path):
    """The PackageInfo of the package at path."""
    try:
        with tarfile.open(path, "r:*") as archive:
            member = archive.extractfile("PackageInfo")
            info = json.loads(member.read().decode("utf-8"))
    except (OSError, KeyError, tarfile.TarError, ValueError, AttributeError) as error:
        raise PackageError("The package \u201c%s\u201d is damaged or not a package (%s)."
                           % (os.path.basename(path), error))
    if info.get("identifier") != IDENTIFIER or not info.get("version"):
        raise PackageError("The package \u201c%s\u201d holds no Corvantis product."
                           % os.path.basename(path))
    return info


def install(path, volume):
    """Lays the package's payload onto volume and records the receipt; returns the PackageInfo."""
    info = read_info(path)
    if not os.path.isdir(volume):
        raise PackageError("The target volume \u201c%s\u201d does not exist." % volume)
    with tarfile.open(path, "r:*") as archive:
        members = []
        for member in archive.getmembers():
            name = member.name
            if not name.startswith("Payload/"):
                continue
            relative = name[len("Payload/"):]
            parts = relative.split("/")
            if os.path.isabs(relative) or ".." in parts or not (member.isfile() or member.isdir()):
                raise PackageError("The package holds an unsafe entry: %s" % name)
            members.append((member, relative))
        # The new tree is unpacked beside the old one and then swapped in, so that nothing of
        # an older version lingers in it.
        staging = tempfile.mkdtemp(prefix=".install-", dir=volume)
        try:
            for member, relative in members:
                target = os.path.join(staging, relative)
                if member.isdir():
                    os.makedirs(target, exist_ok=True)
                    continue
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with archive.extractfile(member) as source, open(target, "wb") as output:
                    shutil.copyfileobj(source, output)
                os.chmod(target, member.mode & 0o777)
            final = os.path.join(volume, APP_FOLDER)
            if os.path.exists(final):
                shutil.rmtree(final)
            os.makedirs(os.path.dirname(final), exist_ok=True)
            os.rename(os.path.join(staging, APP_FOLDER), final)
        finally:
            shutil.rmtree(staging, ignore_errors=True)
    write_receipt(info["version"], volume)
    return info


def state_folder():
    state = os.environ.get("CORVANTIS_DEMO_STATE")
    if not state or not os.path.isdir(state):
        raise PackageError("CORVANTIS_DEMO_STATE does not name the demonstration's state folder.")
    return state


def receipt_path():
    return os.path.join(state_folder(), "receipts", IDENTIFIER)


def write_receipt(version, volume):
    if not volume.endswith("/"):
        volume += "/"
    path = receipt_path()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as receipt:
        receipt.write("package-id: %s\nversion: %s\nvolume: %s\nlocation: \ninstall-time: %d\n"
                      % (IDENTIFIER, version, volume, int(time.time())))


def record_event(text):
    """Adds one line to the demonstration's record of what the system programs did."""
    try:
        path = os.path.join(state_folder(), "logs", "system.txt")
        with open(path, "a", encoding="utf-8") as events:
            events.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))
    except (OSError, PackageError):
        pass


def signature_verdict(path):
    """What the package tool says of the package's signature: (output, exit status)."""
    heading = 'Package "%s":\n' % os.path.basename(path)
    try:
        signer = read_info(path).get("signer")
    except PackageError as error:
        return "%s\n" % error, 1
    if not signer:
        return heading + "   Status: no signature\n", 1
    chain = ["Developer ID Installer: %s (%s)" % (signer["name"], signer["team"]),
             "Developer ID Certification Authority", "Apple Root CA"]
    lines = [heading.rstrip("\n"),
             "   Status: signed by a developer certificate issued by Apple for distribution",
             "   Certificate Chain:"]
    for number, name in enumerate(chain, 1):
        lines += ["    %d. %s" % (number, name),
                  "       Expires: 2031-01-01 00:00:00 +0000",
                  "       " + "-" * 72]
    return "\n".join(lines[:-1]) + "\n\n", 0
