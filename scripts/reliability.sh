#!/usr/bin/env bash
# The reliability run behind `make reliability`: every fault point of the fault-injection sweeps,
# the same sweeps under valgrind for leaks, a 20,000 × 20,000 image with its scratch images on
# disk under a memory cap against the same run in memory (through a streaming test host, and
# through the program with its copies of the image on disk too), eight areafill processes at once on
# one Preferences folder (100 rounds), a read-only Preferences folder for an unprivileged user,
# the program-level attacks (shared folders, signals, hostile files, bombs), and every fuzz
# target for FUZZ_SECONDS. The figures go into the table of docs/reliability.md.
#   scripts/reliability.sh [BUILD [FUZZBUILD]]   defaults: build/release and build/fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
fuzzbuild="${2:-build/fuzz}"
export FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
work="$(mktemp -d "${TMPDIR:-/tmp}/areafill-reliability-XXXXXX")"
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
figures="$work/figures"
: >"$figures"
fact() { printf '%s=%s\n' "$1" "$2" >>"$figures"; echo "reliability: $1 = $2"; }
fail() { echo "reliability: FAILED: $*" >&2; exit 1; }
seconds_since() { echo $(( $(date +%s) - $1 )); }

cmake --build "$build" --target reliability_test areafill areafill_large_image
tests="$build/tests/reliability/reliability_test"
program="$build/bin/areafill"

# 1. Every fault point.
start=$(date +%s)
AREAFILL_EXHAUSTIVE=1 "$tests" >"$work/sweeps.log" 2>&1 || { tail -40 "$work/sweeps.log"; fail "fault injection"; }
sweep() {  # sum of tried or survived over the sweeps whose name starts with $1
  awk -v name="$1" -v field="$2" '$1 == "fault-points" && index($2, name) == 1 {
    gsub(",", ""); for (i = 3; i <= NF; ++i) if ($i == field) sum += $(i + 1) } END { print sum + 0 }' \
    "$work/sweeps.log"
}
for kind in memory disk-full concurrency; do
  fact "$kind.tried" "$(sweep "$kind" tried)"
  fact "$kind.survived" "$(sweep "$kind" survived)"
done
fact sweeps.seconds "$(seconds_since "$start")"

# 2. The sampled sweeps under valgrind: no leak, no invalid access.
start=$(date +%s)
if command -v valgrind >/dev/null; then
  valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=9 \
    "$tests" --gtest_filter='FaultInjection.*:Runs/MemorySweep.*' >"$work/valgrind.log" 2>&1 ||
    { tail -40 "$work/valgrind.log"; fail "valgrind found leaks or errors"; }
  fact valgrind "no leak, no error ($(seconds_since "$start") s)"
else
  fact valgrind "not installed (scripts/install-deps.sh reliability)"
fi

# 3. A 20,000 × 20,000 grey image with a small hole: scratch images on disk under a 256 MiB cap
#    against the same run in memory; then half the width and a tenth of the height on disk.
large() {  # width height mode output [cap]
  "$build/bench/areafill_large_image" "$1" "$2" "$3" "$4" "${5:-0}" "$work/large-prefs"
}
mkdir -p "$work/large-prefs"
disk=$(large 20000 20000 disk "$work/large-disk.raw" 256) || fail "large image on disk: $disk"
rm -f "$work/large-prefs/ZELKpref"
memory=$(large 20000 20000 memory "$work/large-memory.raw") || fail "large image in memory: $memory"
cmp -s "$work/large-disk.raw" "$work/large-memory.raw" || fail "large image: disk and memory differ"
rm -f "$work/large-memory.raw"
short=$(large 20000 2000 disk "$work/large-short.raw" 256) || fail "large image: $short"
narrow=$(large 10000 20000 disk "$work/large-narrow.raw" 256) || fail "large image: $narrow"
rss() { sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' <<<"$1"; }
secs() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$1"; }
fact large.disk "$(rss "$disk") KiB peak RSS, $(secs "$disk") s"
fact large.memory "$(rss "$memory") KiB peak RSS, $(secs "$memory") s"
fact large.short "$(rss "$short") KiB"
fact large.narrow "$(rss "$narrow") KiB"
fact large.identical yes
[ "$(ls "$work/large-prefs")" = ZELKpref ] || fail "large image: scratch files left"
rm -f "$work"/large-*.raw

# 3b. The program itself on a 20,000 × 20,000 8-bit RGB image with a round hole: scratch images
#     and the program's copies of the image on disk under a 1 GB address-space cap, against the
#     same run in memory.
/usr/bin/python3 - "$work/big" <<'EOF'
import os, sys
import numpy as np, tifffile
out = sys.argv[1]; os.makedirs(out, exist_ok=True)
w = h = 20000
x = np.arange(w, dtype=np.uint32)[None, :]
image = np.empty((h, w, 3), np.uint8)
for top in range(0, h, 1000):
    y = np.arange(top, top + 1000, dtype=np.uint32)[:, None]
    for c, (a, b) in enumerate([(7, 13), (3, 5), (11, 2)]):
        image[top:top + 1000, :, c] = (x * a + y * b + ((x * y) >> 7)) & 255
tifffile.imwrite(f"{out}/in.tif", image, photometric="rgb", rowsperstrip=64)
del image
mask = np.zeros((h, w), np.uint8)
yy, xx = np.ogrid[-300:300, -300:300]
mask[h // 2 - 300:h // 2 + 300, w // 2 - 300:w // 2 + 300][xx * xx + yy * yy <= 300 * 300] = 255
tifffile.imwrite(f"{out}/mask.tif", mask, rowsperstrip=256, compression="zlib")
EOF
mkdir -m 700 "$work/big/prefs"
big() {  # output, then the environment's settings; prints peak RSS in KiB and seconds
  local out=$1; shift
  env "$@" /usr/bin/time -f "%M %e" -o "$work/big/time" "$program" -q "$work/big/in.tif" \
    --mask "$work/big/mask.tif" --method membrane --prefs "$work/big/prefs" -o "$work/big/$out" ||
    fail "20,000² through the program ($out)"
  tail -1 "$work/big/time"
}
read -r rss secs < <(ulimit -v 1000000; big disk.tif AREAFILL_TEMP_MEMORY=0)
fact program.large.disk "$rss KiB peak RSS, $secs s"
read -r rss secs < <(big memory.tif AREAFILL_IMAGE_MEMORY=$((8 << 30)))
fact program.large.memory "$rss KiB peak RSS, $secs s"
cmp -s "$work/big/disk.tif" "$work/big/memory.tif" || fail "20,000² through the program: disk and memory differ"
[ "$(ls "$work/big/prefs")" = ZELKpref ] || fail "20,000² through the program: files left"
rm -rf "$work/big"

# 4. Eight areafill processes at once on different images, one Preferences folder, every
#    scratch image on disk; each output against the same image filled alone.
python3 - "$work/images" <<'EOF'
import os, struct, sys, zlib
out = sys.argv[1]; os.makedirs(out, exist_ok=True)
def png(path, w, h, channels, pixel):
    rows = b"".join(b"\0" + bytes(v for x in range(w) for v in pixel(x, y)) for y in range(h))
    def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    ihdr = struct.pack(">IIBBBBB", w, h, 8, {1: 0, 3: 2}[channels], 0, 0, 0)
    open(path, "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
for i in range(8):
    w, h, c = 300 + 40 * i, 200 + 30 * i, 1 if i % 2 == 0 else 3
    png(f"{out}/in{i}.png", w, h, c, lambda x, y: [(x * (3 + i) + y * (5 + k) + (x * y >> 6)) % 256 for k in range(c)])
    png(f"{out}/mask{i}.png", w, h, 1, lambda x, y: [255 if (x - w / 2) ** 2 + (y - h / 2) ** 2 < (20 + 3 * i) ** 2 else 0])
EOF
methods=(membrane mean foreground black white hblend vblend membrane)
for i in $(seq 0 7); do
  "$program" -q "$work/images/in$i.png" --mask "$work/images/mask$i.png" --method "${methods[$i]}" \
    --prefs "$work/alone-prefs" -o "$work/images/expected$i.png"
done
shared="$work/shared-prefs"
mkdir -p "$shared"
rounds=${CONCURRENT_ROUNDS:-100}
runs=0 good=0
start=$(date +%s)
for round in $(seq 1 "$rounds"); do
  pids=()
  for i in $(seq 0 7); do
    AREAFILL_TEMP_MEMORY=0 "$program" -q "$work/images/in$i.png" --mask "$work/images/mask$i.png" \
      --method "${methods[$i]}" --prefs "$shared" -o "$work/images/out$i.png" \
      2>"$work/images/err$i" &
    pids+=($!)
  done
  for i in $(seq 0 7); do
    runs=$((runs + 1))
    if wait "${pids[$i]}" && cmp -s "$work/images/out$i.png" "$work/images/expected$i.png"; then
      good=$((good + 1))
    else
      echo "reliability: concurrent run $i of round $round: $(cat "$work/images/err$i")" >&2
    fi
  done
done
size=$(stat -c %s "$shared/ZELKpref")
left=$(ls "$shared" | grep -cv '^ZELKpref$' || true)
fact concurrent.runs "$runs"
fact concurrent.correct "$good"
fact concurrent.prefs "$size bytes, $left other files left"
fact concurrent.seconds "$(seconds_since "$start")"
[ "$good" -eq "$runs" ] && [ "$size" -eq 53248 ] && [ "$left" -eq 0 ] || fail "concurrent runs"

# 5. A read-only Preferences folder, for a user the permissions bind.
ro="$work/readonly"
mkdir -p "$ro/prefs" "$ro/out"
cp "$work/images/in0.png" "$work/images/mask0.png" "$ro/"
chmod 0555 "$ro/prefs"
chmod 0777 "$ro/out"
chmod 0755 "$work" "$ro"
as_user=()
if [ "$(id -u)" -eq 0 ]; then  # the folder is the user's own: refused otherwise
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown 65534:65534 "$ro/prefs"
fi
ro_run() {
  "${as_user[@]}" env AREAFILL_TEMP_MEMORY="$1" "$program" -q "$ro/in0.png" --mask "$ro/mask0.png" \
    --method membrane --prefs "$ro/prefs" -o "$ro/out/$2.png"
}
ro_run -1 memory 2>"$work/ro-memory.err" || fail "read-only folder, in memory: $(cat "$work/ro-memory.err")"
cmp -s "$ro/out/memory.png" "$work/images/expected0.png" || fail "read-only folder: wrong output"
if ro_run 0 disk 2>"$work/ro-disk.err"; then fail "read-only folder: scratch files were made"; fi
[ ! -e "$ro/out/disk.png" ] && [ -z "$(ls "$ro/prefs")" ] || fail "read-only folder: files left"
fact readonly "in memory: filled; on disk: $(cat "$work/ro-disk.err")"

# 6. The attacks of the program-level suites, counted here: shared Preferences folders (other
#    users' folders, links planted in them, lock scope with a dialog open), signals at every
#    stage of a run, hostile files; then the peak memory of two decompression bombs.
attacks() {  # the summary line of one pytest file against this build's program
  env PYTHONPATH="$(realpath "$build/python")" AREAFILL_CLI="$(realpath "$program")" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    "$1" 2>&1 | tail -1
}
for suite in shared_folders:tests/program/test_shared_folders.py \
    signals:tests/program/test_signals.py hostile:tests/reliability/test_hostile_input.py; do
  said=$(attacks "${suite#*:}")
  grep -q passed <<<"$said" && ! grep -q -E "failed|error" <<<"$said" || fail "${suite%%:*}: $said"
  fact "attacks.${suite%%:*}" "$said"
done
python3 - "$work/bombs" <<'EOF'
import os, struct, sys, zlib
out = sys.argv[1]; os.makedirs(out, exist_ok=True)
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
# An interlaced 32,000 x 32,000 PNG whose data, padded with zeros, is 1/4096 of its pixels.
w = h = 32000
data = zlib.compress(bytes(w * h // 4096), 0)  # stored: the file is as large as its data
open(f"{out}/bomb.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 1))
    + chunk(b"IDAT", data) + chunk(b"IEND", b""))
# A TIFF of one pixel in one 32,768 x 32,768 tile, padded to 1 MB.
tags = {256: 1, 257: 1, 258: 8, 259: 1, 262: 1, 277: 1, 322: 32768, 323: 32768, 324: 8, 325: 1 << 20}
ifd = 8 + (1 << 20)
entries = b"".join(struct.pack("<HHII", t, 4, 1, v) for t, v in sorted(tags.items()))
open(f"{out}/bomb.tif", "wb").write(b"II*\0" + struct.pack("<I", ifd) + bytes(1 << 20)
    + struct.pack("<H", len(tags)) + entries + b"\0\0\0\0")
EOF
for bomb in bomb.png bomb.tif; do
  size=$(( $(stat -c %s "$work/bombs/$bomb") / 1024 ))
  if /usr/bin/time -f %M -o "$work/bombs/peak" "$program" -q "$work/bombs/$bomb" \
      --prefs "$work/bombs" -o "$work/bombs/out-$bomb" 2>"$work/bombs/err"; then
    fail "$bomb was read"
  fi
  fact "bomb.$bomb" "$size KiB file: exit 1, $(tail -1 "$work/bombs/peak") KiB peak RSS"
done

# 7. Every fuzz target for FUZZ_SECONDS.
scripts/install-deps.sh fuzz
[ -f "$fuzzbuild/build.ninja" ] || cmake --preset fuzz -B "$fuzzbuild"
cmake --build "$fuzzbuild" --target fuzz_targets
scripts/fuzz.sh "$fuzzbuild" || fail "fuzzing found a crash"
cp "$fuzzbuild/fuzz-summary.tsv" "$work/fuzz.tsv"

# The table of docs/reliability.md, between its markers.
get() { sed -n "s/^$1=//p" "$figures"; }
{
  echo "<!-- figures: written by scripts/reliability.sh on $(date -u +%Y-%m-%d) -->"
  echo
  echo "| Check | Result |"
  echo "|---|---|"
  while IFS=$'\t' read -r target secs execs crashes corpus; do
    [ "$target" = target ] && continue
    echo "| Fuzzing \`$target\` | $execs executions in $secs s, $crashes crashes, corpus $corpus |"
  done <"$work/fuzz.tsv"
  echo "| Memory refused at each allocation point (once, and from then on; 11 runs) | $(get memory.tried) tried, $(get memory.survived) survived |"
  echo "| Disk full at each byte count of a run with disk scratch images | $(get disk-full.tried) tried, $(get disk-full.survived) survived |"
  echo "| Fault-injection sweeps, all points | $(get sweeps.seconds) s |"
  echo "| Sampled sweeps under valgrind | $(get valgrind) |"
  echo "| 20,000 × 20,000 grey, scratch on disk, 256 MiB address-space cap | $(get large.disk); output identical to the in-memory run: $(get large.identical) |"
  echo "| Same image, scratch in memory | $(get large.memory) |"
  echo "| 20,000 × 2,000 and 10,000 × 20,000 on disk | $(get large.short) and $(get large.narrow) peak RSS |"
  echo "| The program on a 20,000 × 20,000 8-bit RGB TIFF with a round hole (r = 300, mask file), scratch and the program's copies of the image on disk, \`ulimit -v 1000000\` | $(get program.large.disk); output identical to the run in memory |"
  echo "| Same run, everything in memory | $(get program.large.memory) |"
  echo "| Eight areafill processes at once, one Preferences folder, scratch on disk | $(get concurrent.runs) runs, $(get concurrent.correct) correct; preferences file $(get concurrent.prefs); $(get concurrent.seconds) s |"
  echo "| Read-only Preferences folder (unprivileged user) | $(get readonly) |"
  echo "| Shared Preferences folders: other users' and world-writable folders refused, links never written through, an open dialog blocking no other run | $(get attacks.shared_folders) |"
  echo "| Signals (SIGINT, SIGTERM, SIGHUP, twice, SIGKILL) at every stage of a run: exit 130, no output or scratch file left | $(get attacks.signals) |"
  echo "| Hostile files at the host's limits: one-line refusal, peak memory under 200 MiB, nothing changed | $(get attacks.hostile) |"
  echo "| Interlaced PNG bomb (32,000², data padded to 1/4096) | $(get bomb.bomb.png) |"
  echo "| TIFF bomb (one pixel in a 32,768² tile) | $(get bomb.bomb.tif) |"
  echo
  echo "<!-- figures: end -->"
} >"$work/table.md"
doc=docs/reliability.md
if grep -q '<!-- figures:' "$doc" 2>/dev/null; then
  awk -v table="$work/table.md" '
    /<!-- figures: written/ { while ((getline line < table) > 0) print line; skip = 1; next }
    /<!-- figures: end -->/ { skip = 0; next }
    !skip { print }' "$doc" >"$work/doc.md"
  cp "$work/doc.md" "$doc"
fi
cat "$work/table.md"
echo "reliability: all checks passed"
