#!/usr/bin/env bash
# Installs every missing Debian package, makes the Russian locale the tests run under, and builds
# Korvex into build/ (Ninja, ccache). With --packages-only it stops before the build.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  g++ cmake ninja-build ccache pkg-config clang-format
  qt6-base-dev qt6-svg-dev libqt6svg6 libqt6sql6-sqlite libqt6sql6-odbc qt6-translations-l10n
  libvmime-dev libsimpleini-dev
  unixodbc libsqliteodbc sqlite3
  python3 python3-aiosmtpd python3-cryptography
  libbenchmark-dev
  xvfb xauth fonts-dejavu-core
  locales
  dpkg-dev file lintian desktop-file-utils appstream
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# The operator's regional settings are Russian: the end-to-end tests also run under ru_RU.UTF-8.
if ! locale -a 2>/dev/null | grep -qiE '^ru_RU\.utf-?8$'; then
  echo "Generating the ru_RU.UTF-8 locale"
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
[ "${1:-}" = "--packages-only" ] && exit 0

BUILD_TYPE="${KORVEX_BUILD_TYPE:-RelWithDebInfo}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" > build.log 2>&1 || { cat build.log; exit 1; }
ninja -C build "$@"
