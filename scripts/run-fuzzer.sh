#!/bin/bash
# Fuzzes the package reader for SECONDS, starting from seed packages made by our own
# package builder. Findings land in BUILD/fuzz/findings and fail the run.
set -eu
seconds=${1:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$top/build/native}
fuzzer=$build/bin/package_fuzzer

seeds=$build/fuzz/seeds
corpus=$build/fuzz/corpus
findings=$build/fuzz/findings
mkdir -p "$seeds" "$corpus" "$findings"
"$build/bin/make_fuzz_seeds" "$seeds"

# -rss_limit_mb: members may legitimately inflate to about 1000 times their size.
log=$build/fuzz/last-run.log
status=0
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 -timeout=20 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -n 30 "$log" >&2
    echo "package fuzzer found a problem (exit $status); inputs in $findings, log in $log" >&2
    exit 1
fi
