#!/usr/bin/env bash
# The store's gate against the CardDAV server's own check, at length:
#   scripts/gate-differential.sh [--cards N] [--seed S] [--jobs J] [--batch B]
# (defaults: 1,000,000 cards, series 1, 2 processes). Needs a build in build/.
# Prints the counts of each batch and the totals; exit status 1 when a card
# that the gate takes is refused by the server.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${1:-}" == "--help" ]]; then
  sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
[[ -x build/bin/gate_differential ]] || cmake --build build --target gate_differential
start=$(date +%s)
build/bin/gate_differential "$@"
echo "seconds: $(( $(date +%s) - start ))"
