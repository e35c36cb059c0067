#!/bin/sh
# Holds the installer to its layers (README, "Layout"):
#   scripts/check-layers.sh              every file of a library of sources/ includes only headers
#                                        of its own library and of those it may use
#   scripts/check-layers.sh BUILD...     and in these build folders no program below the window
#                                        (benchmark programs, fuzzers, the suites but the window's
#                                        tst_look and tst_workflow) loads Qt Gui or Qt Widgets
# The libraries and their files are read from sources/CMakeLists.txt, so a file moved to another
# library is checked against that library's place. Exits 1 with what crosses a layer.
set -eu
cd "$(dirname "$0")/.."

status=0
for build in "$@"; do
    for binary in "$build"/bench/corvantis-bench-* "$build"/fuzz/fuzz_* "$build"/tests/tst_*; do
        case "$binary" in */tst_look | */tst_workflow) continue ;; esac
        if [ ! -f "$binary" ] || [ ! -x "$binary" ]; then continue; fi
        if ldd "$binary" | grep -E 'libQt5(Gui|Widgets)'; then
            echo "check-layers: $binary loads a GUI library" >&2
            status=1
        fi
    done
done

python3 - <<'EOF' || status=1
import os, re, sys

# Which libraries each library may use, besides itself.
may_use = {
    "corvantis_logic": set(),
    "corvantis_network": {"corvantis_logic"},
    "corvantis_archive": {"corvantis_logic"},
    "corvantis_platform": {"corvantis_logic"},
    "corvantis_ui": {"corvantis_logic", "corvantis_network", "corvantis_archive",
                     "corvantis_platform"},
}
cmake = open("sources/CMakeLists.txt").read()
owner = {}
calls = r"(?:add_library|target_sources|corvantis_twins)\((corvantis_\w+)([^)]*)\)"
for call in re.finditer(calls, cmake):
    library, files = call.group(1), call.group(2).split()
    for name in files:
        if re.fullmatch(r"[\w.]+\.(cpp|h|mm)", name):
            owner[name] = library
        if name.endswith(".ui"):
            owner["ui_" + name.rsplit("/", 1)[-1].replace(".ui", ".h")] = library
if set(owner.values()) != set(may_use):
    sys.exit(f"check-layers: sources/CMakeLists.txt has the libraries {sorted(set(owner.values()))}")
crossings = 0
# Every source but the application's entry belongs to one library, so that none escapes the check.
for name in sorted(os.listdir("sources")):
    if re.fullmatch(r"[\w.]+\.(cpp|h|mm)", name) and name != "main.cpp" and name not in owner:
        print(f"sources/{name}: in no library of sources/CMakeLists.txt", file=sys.stderr)
        crossings += 1
for name, library in sorted(owner.items()):
    if name.startswith("ui_"):
        continue
    for line_number, line in enumerate(open("sources/" + name), 1):
        header = re.match(r'#\s*(?:include|import)\s+"([^"]+)"', line)
        used = owner.get(header.group(1)) if header else None
        if used and used != library and used not in may_use[library]:
            print(f"sources/{name}:{line_number}: {library} includes {header.group(1)} of {used}",
                  file=sys.stderr)
            crossings += 1
sys.exit(1 if crossings else 0)
EOF
exit "$status"
