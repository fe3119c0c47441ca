#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, one after the other.
#   scripts/fuzz.sh [BUILD]        BUILD defaults to build/fuzz (the "fuzz" preset)
#   FUZZ_SECONDS=60                time per target
# Each target starts from its seeds in tests/fuzz/corpus/<name> and keeps what it finds in
# BUILD/fuzz-corpus/<name>; a crash leaves its input in BUILD/fuzz-crashes/<name>/ and fails the
# script. BUILD/fuzz-summary.tsv gets one line per target: name, seconds, executions, crashes,
# corpus entries.
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/fuzz}"
seconds="${FUZZ_SECONDS:-60}"
summary="$build/fuzz-summary.tsv"
printf 'target\tseconds\texecutions\tcrashes\tcorpus\n' >"$summary"
failed=0
shopt -s nullglob
targets=("$build"/fuzz/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in $build/fuzz (build the fuzz preset first)" >&2
  exit 2
fi
for bin in "${targets[@]}"; do
  target="$(basename "$bin")"
  name="${target%_fuzz}"
  seeds="tests/fuzz/corpus/$name"
  corpus="$build/fuzz-corpus/$name"
  crashes="$build/fuzz-crashes/$name"
  rm -rf "$crashes"  # inputs of an earlier run, fixed since or kept among the seeds
  mkdir -p "$corpus" "$crashes" "$seeds"
  log="$build/fuzz-$name.log"
  # Bounded memory: a parser that allocates far beyond its input is a finding, not a wait. Inputs
  # as long as the program takes (a recorded action: 1 MiB) and long enough to declare an image
  # far larger than their data (the others: 256 KiB) are tried.
  max_len=262144
  [ "$name" = action_json ] && max_len=1048576
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$crashes" -type f | wc -l)
  entries=$(find "$corpus" -type f | wc -l)
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$seconds" "${executions:-0}" "$found" "$entries" >>"$summary"
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    echo "fuzz: $name FAILED (exit $rc); inputs in $crashes, log $log" >&2
    grep -m5 -E "ERROR|SUMMARY|abort|==[0-9]+==" "$log" >&2 || true
  else
    echo "fuzz: $name: ${executions:-0} executions in ${seconds}s, corpus $entries, no crash"
  fi
done
exit $failed
