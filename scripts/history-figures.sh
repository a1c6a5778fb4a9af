#!/usr/bin/env bash
# Prints the histories' figures: time per change with and without keeping
# (page and client) in a book of CARDS cards (10,000 unless given), import
# time with and without, and the history's size after a simulated month.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target bench_history >/dev/null
build/bin/bench_history "${1:-10000}"
