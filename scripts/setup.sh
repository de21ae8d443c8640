#!/usr/bin/env bash
# Installs every missing Debian package and builds Korvex into build/ (Ninja, ccache).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  g++ cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 libqt6sql6-sqlite libqt6sql6-odbc
  libvmime-dev libsimpleini-dev
  unixodbc libsqliteodbc sqlite3
  python3 python3-aiosmtpd
  libbenchmark-dev
  xvfb xauth fonts-dejavu-core
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

BUILD_TYPE="${KORVEX_BUILD_TYPE:-RelWithDebInfo}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" > build.log 2>&1 || { cat build.log; exit 1; }
ninja -C build "$@"
