#!/bin/sh
# Regenerates the archive seeds in corpus/unzipper/ with the three tools the package archives are
# likely to come from: Info-ZIP zip, Python's zipfile and bsdtar (libarchive). Each holds a small
# Setup.pkg; they differ in storage method, data descriptors, zip64 records and entry names.
# Needs zip, python3 and libarchive-tools. The outputs are committed; rerun only to change them.
set -eu
cd "$(dirname "$0")"
out="$(pwd)/corpus/unzipper"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC

cd "$work"
# Compressible, like a real package's table of contents, with a xar-like magic in front.
{
    printf 'xar!'
    i=0
    while [ $i -lt 40 ]; do
        printf '<file id="%d"><name>Corvantis.app/Contents/Resources/part%d</name></file>\n' $i $i
        i=$((i + 1))
    done
} >Setup.pkg
printf 'Corvantis installer package\n' >readme.txt
: >empty.pkg
mkdir Payload
cp readme.txt Payload/readme.txt
touch -d '2024-03-01 12:00:00' Setup.pkg readme.txt empty.pkg Payload Payload/readme.txt

# Info-ZIP: stored, deflated, data descriptors (written to a pipe, so it cannot seek back),
# zip64 records forced on a small file.
zip -q -X -0 "$out/infozip-stored.zip" Setup.pkg
zip -q -X -9 "$out/infozip-deflated.zip" Setup.pkg readme.txt
zip -q -X - Setup.pkg | cat >"$out/infozip-descriptor.zip"
zip -q -X -fz "$out/infozip-zip64.zip" Setup.pkg

# Python: data descriptors from an unseekable stream, forced zip64, an empty entry next to a
# directory, a name in other letter case with a nested copy, and a stored entry whose checksum
# no longer matches its data.
python3 - "$out" <<'PY'
import io, sys, zipfile

out = sys.argv[1]
data = open("Setup.pkg", "rb").read()
when = (2024, 3, 1, 12, 0, 0)

class Unseekable(io.RawIOBase):
    def __init__(self, f):
        self.f = f
    def writable(self):
        return True
    def write(self, b):
        return self.f.write(b)

def entry(name, method):
    info = zipfile.ZipInfo(name, when)
    info.compress_type = method
    return info

with open(f"{out}/python-descriptor.zip", "wb") as f:
    with zipfile.ZipFile(Unseekable(f), "w") as z:
        with z.open(entry("Setup.pkg", zipfile.ZIP_DEFLATED), "w") as e:
            e.write(data)

with zipfile.ZipFile(f"{out}/python-zip64.zip", "w") as z:
    with z.open(entry("Setup.pkg", zipfile.ZIP_DEFLATED), "w", force_zip64=True) as e:
        e.write(data)

with zipfile.ZipFile(f"{out}/python-empty.zip", "w") as z:
    z.writestr(entry("Payload/", zipfile.ZIP_STORED), b"")
    z.writestr(entry("Setup.pkg", zipfile.ZIP_DEFLATED), b"")

with zipfile.ZipFile(f"{out}/python-names.zip", "w") as z:
    z.writestr(entry("SETUP.PKG", zipfile.ZIP_STORED), data[:300])
    z.writestr(entry("Payload/Setup.pkg", zipfile.ZIP_DEFLATED), data)

buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as z:
    z.writestr(entry("Setup.pkg", zipfile.ZIP_STORED), data[:200])
damaged = bytearray(buffer.getvalue())
damaged[30 + len("Setup.pkg") + 10] ^= 0x20
open(f"{out}/python-badcrc.zip", "wb").write(damaged)
PY

# bsdtar: deflated (with data descriptors), stored, zip64 extensions. It also records the files'
# access and change times, so these differ in those bytes from one run to the next.
bsdtar --format zip -cf "$out/bsdtar-deflated.zip" Setup.pkg Payload
bsdtar --format zip --options zip:compression=store -cf "$out/bsdtar-stored.zip" Setup.pkg
bsdtar --format zip --options zip:zip64 -cf "$out/bsdtar-zip64.zip" Setup.pkg empty.pkg

# Cut off in the middle of the compressed data: no central directory at all.
head -c 400 "$out/infozip-deflated.zip" >"$out/truncated.zip"
