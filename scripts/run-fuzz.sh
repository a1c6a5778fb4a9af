#!/usr/bin/env bash
# Runs every fuzz target in DIR for SECONDS each, from its seed corpus.
# Usage: scripts/run-fuzz.sh DIR [SECONDS]
set -euo pipefail
dir=${1:?usage: run-fuzz.sh DIR [SECONDS]}
seconds=${2:-30}
top=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$dir"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $dir"
  exit 0
fi
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds="$top/fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
done
