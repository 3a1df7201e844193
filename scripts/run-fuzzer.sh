#!/bin/bash
# Runs one of our fuzzers for SECONDS.
# Usage: run-fuzzer.sh [SECONDS [BUILD [FUZZER [SEEDS]]]]
#   FUZZER  a name in BUILD/bin; package_fuzzer by default
#   SEEDS   a folder of seed inputs; by default what BUILD/bin/make_NAME_seeds writes for the
#           fuzzer NAME_fuzzer (make_fuzz_seeds, our own package builder, for the package fuzzer)
# The corpus grows in BUILD/fuzz/corpus and findings land in BUILD/fuzz/findings (for other
# fuzzers than the package one, in BUILD/fuzz/FUZZER/); findings fail the run.
set -eu
seconds=${1:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$top/build/native}
name=${3:-package_fuzzer}
fuzzer=$build/bin/$name

work=$build/fuzz
[ "$name" = package_fuzzer ] || work=$build/fuzz/$name
corpus=$work/corpus
findings=$work/findings
mkdir -p "$corpus" "$findings"
if [ -n "${4:-}" ]; then
    seeds=$4
else
    seeds=$work/seeds
    mkdir -p "$seeds"
    maker=$build/bin/make_${name%_fuzzer}_seeds
    [ -x "$maker" ] || maker=$build/bin/make_fuzz_seeds
    "$maker" "$seeds"
fi

# -rss_limit_mb: package members may legitimately inflate to about 1000 times their size.
log=$work/last-run.log
status=0
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 -timeout=20 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -n 30 "$log" >&2
    echo "$name found a problem (exit $status); inputs in $findings, log in $log" >&2
    exit 1
fi
