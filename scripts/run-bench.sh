#!/usr/bin/env bash
# Runs every benchmark program of the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
for b in build/bin/bench_*; do
  echo "== $(basename "$b")"
  "$b" "$@"
done
