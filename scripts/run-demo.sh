#!/usr/bin/env bash
# Installs what is missing, builds, makes a fresh demo workspace in demo/ and starts the robot on it:
# the window when a display is present, headless otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
ROOT="$PWD"
DEMO="${KORVEX_DEMO_DIR:-$ROOT/demo}"
rm -rf "$DEMO"
mkdir -p "$DEMO/quik"
build/tools/korvex-initdb --alerts "$DEMO/alerts.db"
build/tools/korvex-initdb --trading "$DEMO/trading.db" --demo
printf '%s\r\n' \
  "[Position]" "PositionSize=0" "rgpFilled=1" "time1=0:00:00" "time2=23:59:59" "ExitQty=-1" "rgpSingleMulti=0" \
  "[Quik]" "pathTRI=$DEMO/quik/trans.tri" "pathTRO=$DEMO/quik/trans.tro" "pathInfoLog=$DEMO/quik/info.log" \
  "intTable=1" "QuikConnectTimeOut=5" "Alerts=$DEMO/alerts.db" "QuikData=$DEMO/trading.db" "Connect=-1" "QuikConnect=-1" \
  "[Mail]" "SMTP=localhost" "Port=25" > "$DEMO/Korvex.ini"

ARGS=(--workdir "$DEMO" --watch)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then ARGS+=(--headless); fi
echo "Demo workspace: $DEMO"
exec build/src/app/korvex "${ARGS[@]}"
