#!/bin/bash
# Times the installer's downloader and unzipper (through the corvantis-bench-* programs, one per
# library) against curl, bsdtar and Info-ZIP unzip on this machine, watches the memory of the update check, the AppleScript runner
# and the receipt query on hostile input, and writes the figures to BENCHMARKS.md at the
# repository root.
#
#   scripts/bench.sh                 # 5 alternating runs of everything
#   BENCH_RUNS=9 scripts/bench.sh    # more runs
#
# Needs: cmake, g++, Qt 5 and minizip development files, nginx, curl, bsdtar, zip, unzip, gzip,
# /usr/bin/time and python3 (scripts/setup.sh installs them). Everything it creates lives in a
# temporary folder that is removed at the end, with the web server it starts.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-5}
build=${BENCH_BUILD_DIR:-$repo/build-bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/corvantis-bench.XXXXXX")
nginx_pid=""

cleanup() {
    if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
        kill "$nginx_pid"
        for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT

for tool in cmake nginx curl bsdtar zip unzip gzip python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (see scripts/setup.sh)" >&2; exit 1; }
done

echo "== building the corvantis-bench programs (Release) in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANTIS_BUILD_TESTS=OFF \
    -DCORVANTIS_BUILD_BENCH=ON >"$work/cmake.log" || { cat "$work/cmake.log"; exit 1; }
cmake --build "$build" --target corvantis-bench-network corvantis-bench-archive \
    corvantis-bench-platform -j2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
network="$build/bench/corvantis-bench-network"
archive="$build/bench/corvantis-bench-archive"
platform="$build/bench/corvantis-bench-platform"
# The Qt libraries each program loads, for the report.
for program in network archive platform; do
    echo "$program $(ldd "$build/bench/corvantis-bench-$program" | grep -o 'libQt5[A-Za-z]*' | sort -u | tr '\n' ' ')"
done >"$work/libraries"
cat "$work/libraries"

# --- measuring --------------------------------------------------------------------------------

# measure <label> <command...>: runs the command under /usr/bin/time -v and appends
# "<label> <wall seconds> <peak RSS KiB>" to $work/results.
measure() {
    local label=$1
    shift
    if ! /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1; then
        echo "bench: '$*' failed:" >&2
        cat "$work/out.txt" "$work/time.txt" >&2
        exit 1
    fi
    python3 - "$label" "$work/time.txt" >>"$work/results" <<'EOF'
import re, sys
label, path = sys.argv[1], sys.argv[2]
text = open(path).read()
wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", text).group(1)
seconds = 0.0
for part in wall.split(":"):
    seconds = seconds * 60 + float(part)
rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1)
print(label, f"{seconds:.2f}", rss)
EOF
    tail -n 1 "$work/results" | awk '{ printf "   %-28s %7.2f s %8.1f MiB\n", $1, $2, $3 / 1024 }'
}

# Alternates the commands of one comparison run by run, rotating which one goes first.
# compare <runs> <setup command> <label>=<command> ...
compare() {
    local count=$1 setup=$2
    shift 2
    local entries=("$@") n=$# i j
    for ((i = 0; i < count; i++)); do
        for ((j = 0; j < n; j++)); do
            local entry=${entries[$(((i + j) % n))]}
            eval "$setup"
            # shellcheck disable=SC2086
            measure "${entry%%=*}" ${entry#*=}
        done
    done
}

# stand_in_runs <program> <command> <kind>...: runs "corvantis-bench-platform <command>" with each stand-in
# $work/<program>-<kind>/<program> first on PATH, $runs times, and keeps what it printed.
stand_in_runs() {
    local program=$1 command=$2 i kind
    shift 2
    for ((i = 0; i < runs; i++)); do
        for kind in "$@"; do
            measure "$command-$kind" env PATH="$work/$program-$kind:$PATH" "$platform" "$command"
            echo "$command-$kind $(cat "$work/out.txt")" >>"$work/printed"
        done
    done
    grep "^$command" "$work/printed" | sort -u | sed 's/^/   /'
}

# --- downloads ----------------------------------------------------------------------------------

mkdir -p "$work/www" "$work/nginx" "$work/dl"
# nginx's worker drops root to an unprivileged user, which must be able to read the files.
chmod 755 "$work" "$work/www"
truncate -s 1G "$work/www/package-1g.bin"
truncate -s 4G "$work/www/package-4g.bin"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
port=$(free_port)
tls_port=$(free_port)
until [ "$tls_port" != "$port" ]; do tls_port=$(free_port); done
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx/body;
    default_type application/octet-stream;
    types { application/json json; }
    server {
        listen 127.0.0.1:$port;
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $repo/tests/certs/server.pem;
        ssl_certificate_key $repo/tests/certs/server.key;
        root $work/www;
        # A compressed answer whatever the client asked for.
        location = /answer-gzip.json {
            default_type application/json;
            add_header Content-Encoding gzip;
            try_files /answer-gzip.json.gz =404;
        }
    }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
done
base="http://127.0.0.1:$port"

: >"$work/results"
echo "== baselines: each program's libs (its libraries loaded), and idle (plus an event loop)"
for ((i = 0; i < runs; i++)); do
    for program in network archive platform; do
        measure "libs-$program" "${!program}" libs
    done
    measure idle "$network" idle
done

for size in 1g 4g; do
    echo "== download of $size ($runs alternating runs each)"
    # The first read of a sparse file fills the server's page cache; no tool should pay for it.
    curl -s -f -o /dev/null "$base/package-$size.bin"
    # Each run starts with no dirty pages left behind by the one before.
    # shellcheck disable=SC2016 # expanded by compare's eval
    compare "$runs" 'rm -f "$work/dl/package-'$size'.bin"; sync' \
        "download-$size-corvantis=$network download $base/package-$size.bin $work/dl" \
        "download-$size-curl=curl -s -f -o $work/dl/package-$size.bin $base/package-$size.bin"
    expected=$(stat -c %s "$work/www/package-$size.bin")
    actual=$(stat -c %s "$work/dl/package-$size.bin")
    [ "$expected" = "$actual" ] || { echo "bench: $size download has $actual bytes" >&2; exit 1; }
    rm -f "$work/dl/package-$size.bin"
done

# --- update answers -----------------------------------------------------------------------------

# What the update check holds must not grow with the answer: a normal answer, a long one, and a
# small compressed one that inflates to 1.2 GiB, sent compressed whatever the client asked for.
# "printed" keeps what corvantis-bench-network said of each run (sizes kept, outcome).
cat >"$work/www/answer-small.json" <<'EOF'
[
    {
        "mac_installer_version": "2.4.1",
        "mac_installer_file": "https://updates.example.com/corvantis/CorvantisInstaller-2.4.1.zip",
        "mac_app_version": "5.2.0",
        "mac_app_file": "https://updates.example.com/corvantis/Corvantis-5.2.0.zip",
        "force_update_mac": false
    }
]
EOF
python3 -c 'import sys; line = b"<p>Not an answer, and a long one.</p>\n"
sys.stdout.buffer.write((line * (50000000 // len(line) + 1))[:50000000])' >"$work/www/answer-50m.json"
head -c 1228M /dev/zero | gzip -9 >"$work/www/answer-gzip.json.gz"
: >"$work/printed"
echo "== update answers ($runs runs each; https trusts the test authority of tests/certs)"
for ((i = 0; i < runs; i++)); do
    for answer in small 50m gzip; do
        measure "answer-$answer-http" "$network" answer "$base/answer-$answer.json"
        echo "answer-$answer-http $(cat "$work/out.txt")" >>"$work/printed"
        measure "answer-$answer-https" "$network" answer "https://127.0.0.1:$tls_port/answer-$answer.json" \
            "$repo/tests/certs/ca.pem"
        echo "answer-$answer-https $(cat "$work/out.txt")" >>"$work/printed"
    done
done
sort -u "$work/printed" | sed 's/^/   /'

kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""
rm -f "$work/www/"*

# --- AppleScript runner -------------------------------------------------------------------------

# The runner keeps only the end of the script's error output: a stand-in first on PATH floods
# both channels before its error line, another prints the error line alone.
mkdir -p "$work/osascript-line" "$work/osascript-flood"
cat >"$work/osascript-line/osascript" <<'EOF'
#!/bin/sh
echo '0:10: execution error: Flooded (-1)' >&2
exit 1
EOF
cat >"$work/osascript-flood/osascript" <<'EOF'
#!/bin/sh
yes 'standard output of a flooding script' | head -c 200000000
yes 'standard error of a flooding script' | head -c 200000000 >&2
printf '\n0:10: execution error: Flooded (-1)\n' >&2
exit 1
EOF
chmod 755 "$work/osascript-line/osascript" "$work/osascript-flood/osascript"
echo "== AppleScript runner ($runs runs each)"
stand_in_runs osascript osascript line flood

# --- receipt query ------------------------------------------------------------------------------

# The volume scan reads what the receipt tool prints up to a bound: a stand-in pkgutil first on
# PATH prints a normal receipt, another one 50 MB of receipt lines.
mkdir -p "$work/pkgutil-normal" "$work/pkgutil-flood"
cat >"$work/pkgutil-normal/pkgutil" <<'EOF'
#!/bin/sh
printf 'package-id: com.halvery.pkg.Corvantis\nversion: 2.4.1\nvolume: /\nlocation: \n'
EOF
cat >"$work/pkgutil-flood/pkgutil" <<'EOF'
#!/bin/sh
printf 'package-id: com.halvery.pkg.Corvantis\nversion: 2.4.1\nvolume: /\n'
yes 'location: a receipt line of a hostile receipt tool' | head -c 50000000
EOF
chmod 755 "$work/pkgutil-normal/pkgutil" "$work/pkgutil-flood/pkgutil"
echo "== receipt query ($runs runs each)"
stand_in_runs pkgutil receipt normal flood

# --- extraction ---------------------------------------------------------------------------------

echo "== making a 512 MiB package (text-like and random bytes) and its archive"
mkdir -p "$work/zip" "$work/out"
python3 - "$work/zip/Corvantis.pkg" <<'EOF'
import random, sys
rng = random.Random(20261206)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 11)))
         for _ in range(4000)]
block = 1 << 20

def text_block():
    text = bytearray()
    while len(text) < block:
        line = b" ".join(rng.choices(words, k=rng.randint(4, 14)))
        text += b"%08x: " % len(text) + line + b"\n"
    return bytes(text[:block])

# Deflate looks back 32 KiB only, so reusing whole 1 MiB blocks makes it no easier.
texts = [text_block() for _ in range(24)]
with open(sys.argv[1], "wb") as out:
    for index in range(512):
        if index % 4 == 3:
            out.write(rng.randbytes(block))  # a quarter does not compress at all
        else:
            out.write(rng.choice(texts))
EOF
(cd "$work/zip" && zip -q -6 Corvantis.zip Corvantis.pkg)
archive_size=$(stat -c %s "$work/zip/Corvantis.zip")
rm -f "$work/zip/Corvantis.pkg.ref"
mv "$work/zip/Corvantis.pkg" "$work/zip/Corvantis.pkg.ref"

echo "== extraction of the 512 MiB entry ($runs alternating runs each)"
# shellcheck disable=SC2016 # expanded by compare's eval
compare "$runs" 'rm -rf "$work/out"; mkdir -p "$work/out"; sync' \
    "unzip-corvantis=$archive unzip $work/zip/Corvantis.zip Corvantis.pkg $work/out" \
    "unzip-bsdtar=bsdtar -xf $work/zip/Corvantis.zip -C $work/out" \
    "unzip-infozip=unzip -o -q $work/zip/Corvantis.zip -d $work/out"
rm -rf "$work/out"
mkdir -p "$work/out"
"$archive" unzip "$work/zip/Corvantis.zip" Corvantis.pkg "$work/out"
for ((i = 0; i < runs; i++)); do
    measure libs-archive-open "$archive" open "$work/zip/Corvantis.zip"
done
cmp "$work/out/Corvantis.pkg" "$work/zip/Corvantis.pkg.ref" || { echo "bench: extraction differs" >&2; exit 1; }

# --- report -------------------------------------------------------------------------------------

python3 - "$work/results" "$repo/BENCHMARKS.md" "$runs" "$archive_size" <<'EOF'
import os, platform, re, statistics, subprocess, sys
results, target, runs, archive_size = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
walls, rss = {}, {}
for line in open(results):
    label, wall, kib = line.split()
    walls.setdefault(label, []).append(float(wall))
    rss.setdefault(label, []).append(int(kib))

def row(task, tool, label):
    w, r = walls[label], rss[label]
    return (f"| {task} | {tool} | {statistics.median(w):.2f} | {min(w):.2f} – {max(w):.2f} "
            f"| {statistics.median(r) / 1024:.1f} | {max(r) / 1024:.1f} |")

def version(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True)
        return (done.stdout + done.stderr).strip().splitlines()[0].rstrip(".")
    except (OSError, IndexError):
        return "?"

def median(table, label):
    return statistics.median(table[label])

def goals():
    met = {True: "met", False: "missed"}
    lines = []
    for size in ("1g", "4g"):
        ours, curl = f"download-{size}-corvantis", f"download-{size}-curl"
        ratio = median(walls, ours) / median(walls, curl)
        peak = max(rss[ours]) / 1024
        lines.append(f"{size[0]} GiB download: wall time {ratio:.2f} of curl's ({met[ratio <= 1]}), "
                     f"peak RSS {peak:.1f} MiB ({met[peak < 32]}).")
    ratio = median(walls, "unzip-corvantis") / median(walls, "unzip-bsdtar")
    peak = max(rss["unzip-corvantis"]) / 1024
    above = (median(rss, "unzip-corvantis") - median(rss, "libs-archive-open")) / 1024
    floor = max(rss["libs-archive-open"]) / 1024
    lines.append(f"Extraction: wall time {ratio:.2f} of bsdtar's ({met[ratio <= 1]}), peak RSS "
                 f"{peak:.1f} MiB ({met[peak < 8]}), {above:.1f} MiB above the same libraries "
                 f"that only open the archive ({floor:.1f} MiB).")
    if ratio > 1:
        lines.append("Both extractors spend almost all their time in zlib; minizip hands zlib its "
                     "input 16 KiB at a time (a constant of the library), so zlib is called more "
                     "often than by bsdtar and copies nearly all its output into its window once "
                     "more.")
    if peak >= 8:
        lines.append("The memory goal is at or below what Qt Core takes on its own: the first "
                     "file that Qt opens brings in its file system code, its text codecs and "
                     f"ICU, {floor:.1f} MiB in all before any extraction.")
    return lines

libraries = os.path.join(os.path.dirname(results), "libraries")
# What the programs printed of each hostile input, by label: the distinct lines of all runs.
said = {}
for line in open(os.path.join(os.path.dirname(results), "printed")):
    label, text = line.rstrip("\n").split(" ", 1)
    texts = said.setdefault(label, [])
    if text not in texts:
        texts.append(text)
margin = 4  # MiB above the small input's peak that still counts as no growth

def memory_goals():
    met = {True: "met", False: "missed"}
    lines = []
    for scheme, how in (("http", "over HTTP"), ("https", "over HTTPS")):
        small = max(rss[f"answer-small-{scheme}"]) / 1024
        long_peak = max(rss[f"answer-50m-{scheme}"]) / 1024
        gzip_peak = max(rss[f"answer-gzip-{scheme}"]) / 1024
        kept = max(int(n) for label in (f"answer-50m-{scheme}", f"answer-gzip-{scheme}")
                   for text in said[label] for n in re.findall(r"kept (\d+) bytes", text))
        grows = max(long_peak, gzip_peak) - small > margin
        lines.append(f"Update answer {how}: peak RSS {long_peak:.1f} MiB for 50 MB and "
                     f"{gzip_peak:.1f} MiB for the gzip body against {small:.1f} MiB for the "
                     f"normal answer, {long_peak - small:+.1f} and {gzip_peak - small:+.1f} MiB "
                     f"({met[not grows]}); at most {kept} bytes kept ({met[kept <= 1048577]}).")
    line_peak = max(rss["osascript-line"]) / 1024
    flood_peak = max(rss["osascript-flood"]) / 1024
    last_read = all("errorNumber: -1, errorMessage: Flooded" in text
                    for text in said["osascript-flood"])
    lines.append(f"AppleScript runner: peak RSS {flood_peak:.1f} MiB with 400 MB of output against "
                 f"{line_peak:.1f} MiB with the error line alone, {flood_peak - line_peak:+.1f} MiB "
                 f"({met[flood_peak - line_peak <= margin]}); the last line was still read "
                 f"({met[last_read]}).")
    normal_peak = max(rss["receipt-normal"]) / 1024
    receipt_flood = max(rss["receipt-flood"]) / 1024
    refused = all("kept 0 characters" in text for text in said["receipt-flood"])
    lines.append(f"Receipt query: peak RSS {receipt_flood:.1f} MiB with 50 MB of receipt lines "
                 f"against {normal_peak:.1f} MiB with a normal receipt, "
                 f"{receipt_flood - normal_peak:+.1f} MiB "
                 f"({met[receipt_flood - normal_peak <= margin]}); the flood counted as no receipt "
                 f"({met[refused]}).")
    return lines

cpu = "?"
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        cpu = line.split(":", 1)[1].strip()
        break
cores = open("/proc/cpuinfo").read().count("processor\t:")
memory = int(re.search(r"MemTotal:\s+(\d+)", open("/proc/meminfo").read()).group(1)) // 1024
qt = version(["qmake", "-query", "QT_VERSION"])

lines = [
    "# Benchmarks",
    "",
    "Figures of this machine, written by `scripts/bench.sh`. Each figure is the median of "
    f"{runs} runs; the tools of one comparison run alternately, the one going first rotating "
    "from run to run. Wall time and peak resident memory come from `/usr/bin/time -v` "
    "(\"Elapsed (wall clock) time\", \"Maximum resident set size\").",
    "",
    f"Machine: {cpu}, {cores} cores, {memory} MiB memory, Linux {platform.release()}; "
    f"Qt {qt}; {version(['curl', '--version'])}; {version(['nginx', '-v'])}; "
    f"{version(['bsdtar', '--version'])}; {version(['unzip', '-v'])}.",
    "",
    "| Task | Tool | Wall median (s) | Wall range (s) | Peak RSS median (MiB) | Peak RSS max (MiB) |",
    "|---|---|---|---|---|---|",
    row("Baseline: load the network library's libraries, exit", "corvantis-bench-network libs",
        "libs-network"),
    row("Baseline: application object, event loop, exit", "corvantis-bench-network idle", "idle"),
    row("Baseline: load the archive library's libraries, exit", "corvantis-bench-archive libs",
        "libs-archive"),
    row("Baseline: the archive library's libraries open the archive, exit",
        "corvantis-bench-archive open", "libs-archive-open"),
    row("Baseline: load the platform library's libraries, exit", "corvantis-bench-platform libs",
        "libs-platform"),
    row("Download 1 GiB over HTTP (loopback)", "corvantis-bench-network download", "download-1g-corvantis"),
    row("Download 1 GiB over HTTP (loopback)", "curl -s -o", "download-1g-curl"),
    row("Download 4 GiB over HTTP (loopback)", "corvantis-bench-network download", "download-4g-corvantis"),
    row("Download 4 GiB over HTTP (loopback)", "curl -s -o", "download-4g-curl"),
    row("Update answer: one offer, HTTP", "corvantis-bench-network answer", "answer-small-http"),
    row("Update answer: 50 MB, HTTP", "corvantis-bench-network answer", "answer-50m-http"),
    row("Update answer: gzip, 1.2 GiB inflated, HTTP", "corvantis-bench-network answer",
        "answer-gzip-http"),
    row("Update answer: one offer, HTTPS", "corvantis-bench-network answer", "answer-small-https"),
    row("Update answer: 50 MB, HTTPS", "corvantis-bench-network answer", "answer-50m-https"),
    row("Update answer: gzip, 1.2 GiB inflated, HTTPS", "corvantis-bench-network answer",
        "answer-gzip-https"),
    row("AppleScript runner: error line only", "corvantis-bench-platform osascript", "osascript-line"),
    row("AppleScript runner: 200 MB out, 200 MB err, error line", "corvantis-bench-platform osascript",
        "osascript-flood"),
    row("Receipt query: a normal receipt", "corvantis-bench-platform receipt", "receipt-normal"),
    row("Receipt query: 50 MB of receipt lines", "corvantis-bench-platform receipt", "receipt-flood"),
    row("Extract a 512 MiB deflated entry", "corvantis-bench-archive unzip", "unzip-corvantis"),
    row("Extract a 512 MiB deflated entry", "bsdtar -xf", "unzip-bsdtar"),
    row("Extract a 512 MiB deflated entry", "unzip -o -q", "unzip-infozip"),
    "",
    "Downloads: nginx on 127.0.0.1 serves sparse files (made with `truncate`) with sendfile; "
    "each tool writes a new file into the same temporary folder on the same disk. "
    "nginx sends a length, so the downloader reads directly; only a chunked plain-HTTP body goes "
    "through the downloader's in-process SOCKS5 relay. "
    f"Extraction: one archive of {archive_size / 1048576:.0f} MiB made by Info-ZIP `zip -6` "
    "holding one 512 MiB entry, three quarters text-like lines and one quarter random bytes.",
    "",
    "Goals: download wall time no more than curl's and peak RSS under 32 MiB, also for 4 GiB; "
    "extraction wall time no more than bsdtar's and peak RSS under 8 MiB. The baseline rows "
    "are what the libraries cost before any work is done. Each program links one library of "
    "the installer and what it uses, and no widget library: "
    + "; ".join(f"corvantis-bench-{name} loads {' '.join(libs.split()) or 'no Qt library'}"
                for name, libs in (line.split(" ", 1) for line in open(libraries).read().splitlines()))
    + ". Extraction runs without an application object, so its baseline is the archive "
    "program's libs row; a download needs the event loop, so its baseline is the idle row.",
    "",
    "Hostile inputs: the update check (memory mode bounded at 1 MiB, the answer read, and the log "
    "record of an answer that is no offer) fetches from the same nginx a normal answer of one "
    "offer, 50 MB of text, and about 1.2 MB of gzip that inflates to 1.2 GiB of zero bytes, "
    "sent with `Content-Encoding: gzip` whatever the client asked for; over HTTP and over HTTPS "
    "with the test certificates. The AppleScript "
    "runner runs a stand-in `osascript` first on PATH that writes 200 MB to standard output and "
    "200 MB to standard error before the error line \"0:10: execution error: Flooded (-1)\" "
    "and exit status 1, against one that writes the error line alone. The receipt query of the "
    "volume scan runs a stand-in `pkgutil` first on PATH that prints 50 MB of receipt lines, "
    "against one that prints a normal receipt. Goal for all three: peak RSS "
    f"no more than {margin} MiB above the small input's (memory does not grow with the input); "
    "the update check keeps at most 1 MiB + 1 byte, the runner still reads the last line, and a "
    "receipt past the bound counts as none.",
    "",
    "Against the goals:",
    "",
] + [f"- {line}" for line in goals() + memory_goals()] + [
    "",
    "What the programs printed for the hostile inputs (the distinct lines of all runs):",
    "",
] + [f"- {label}: " + " / ".join(f"`{text}`" for text in texts) for label, texts in said.items()] + [
    "",
    "Reproduce with:",
    "",
    "```",
    f"BENCH_RUNS={runs} scripts/bench.sh",
    "```",
    "",
]
open(target, "w").write("\n".join(lines))
print("\n".join(lines))
EOF
