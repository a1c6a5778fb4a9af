#!/usr/bin/env bash
# Runs the administration pages' tests in Debian's headless Chromium against
# the built host. Usage: run-browser-tests.sh BIN_DIR WORK_DIR [install | TEST_FILE...]
#   BIN_DIR    folder of orva-webapi and the module (build/bin)
#   WORK_DIR   where the npm packages are installed (from the committed lock
#              file, once per change of it); the source tree stays untouched
#   install    only installs them (CTest's set-up step for the test files)
#   TEST_FILE  runs these files with the packages already installed; with
#              none, installs when needed and runs every *.test.mjs here
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bin_dir="$(cd "$1" && pwd)"
work_dir="$2"
shift 2

for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "run-browser-tests: $tool is not installed" >&2; exit 1; }
done
chromium="${ORVA_CHROMIUM:-/usr/bin/chromium}"
[ -x "$chromium" ] || { echo "run-browser-tests: $chromium is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

installed() {
  cmp -s "$here/package-lock.json" "$work_dir/package-lock.json" && [ -d "$work_dir/node_modules/playwright-core" ]
}

if [ $# -eq 0 ] || [ "$1" = install ]; then
  mkdir -p "$work_dir"
  if ! installed; then
    cp "$here/package.json" "$here/package-lock.json" "$work_dir/"
    # playwright-core brings no browser and downloads none; the variable
    # makes sure of it.
    (cd "$work_dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
  fi
  [ "${1:-}" = install ] && exit 0
  set -- "$here"/*.test.mjs
else
  # Test files run side by side: none of them installs.
  installed || { echo "run-browser-tests: no packages in $work_dir; run it with 'install' first" >&2; exit 1; }
fi

export ORVA_BIN_DIR="$bin_dir" ORVA_CHROMIUM="$chromium" ORVA_UI_NODE_MODULES="$work_dir/node_modules"
cd "$here"
exec node --test --test-concurrency=1 "$@"
