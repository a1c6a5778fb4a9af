#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need,
# skipping those already installed. Runs apt-get as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjsoncpp-dev libboost-dev libcpp-httplib-dev uuid-dev libssl-dev libcrypt-dev libqrencode-dev zlib1g-dev
  libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 valgrind curl
  radicale nginx openssl python3-passlib python3-bcrypt apache2-utils
  python3-vobject python3-caldav khal zbar-tools vdirsyncer
  chromium
  slowhttptest wrk
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
