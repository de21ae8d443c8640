#!/usr/bin/env bash
# Renders the main window with the demo flowing (both simulators, the robot watching in group mode)
# on a virtual screen and saves it as a PNG: docs/korvex-main.png at 1366x768 unless told otherwise.
#   scripts/screenshot.sh [WIDTHxHEIGHT] [OUTPUT.png] [SECONDS_OF_TRADING]
set -euo pipefail
cd "$(dirname "$0")/.."
SIZE="${1:-1366x768}"
OUT="${2:-docs/korvex-main.png}"
WAIT="${3:-25}"
missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v import >/dev/null || missing+=(imagemagick)
command -v openbox >/dev/null || missing+=(openbox)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y "${missing[@]}"
fi
scripts/setup.sh
export KORVEX_DEMO_DIR="${KORVEX_DEMO_DIR:-$(mktemp -d)/demo}"
mkdir -p "$(dirname "$OUT")"
OUT_ABS="$(cd "$(dirname "$OUT")" && pwd)/$(basename "$OUT")"
xvfb-run -a -s "-screen 0 ${SIZE}x24" bash -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  # The demo in a process group of its own, so that the robot and both simulators stop together.
  LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 setsid scripts/run-demo.sh >/dev/null 2>&1 &
  demo=$!
  sleep "$1"
  import -window root "$2"
  kill -TERM -- "-$demo" 2>/dev/null || true
  wait "$demo" 2>/dev/null || true
' screenshot "$WAIT" "$OUT_ABS"
echo "$OUT"
