#!/usr/bin/env bash
# Installs what is missing, builds, makes a fresh demo workspace in demo/, starts the simulators of
# QUIK and of the strategy platform, and the robot watching on it: the window when a display is
# present, headless otherwise. The simulators stop when the robot exits.
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
  "[Position]" "PositionSize=0" "rgpFilled=0" "time1=0:00:00" "time2=23:59:59" "ExitQty=-1" "rgpSingleMulti=1" \
  "[Quik]" "pathTRI=$DEMO/quik/trans.tri" "pathTRO=$DEMO/quik/trans.tro" "pathInfoLog=$DEMO/quik/info.log" \
  "intTable=1" "QuikConnectTimeOut=5" "Alerts=$DEMO/alerts.db" "QuikData=$DEMO/trading.db" "Connect=-1" "QuikConnect=-1" \
  "[Mail]" "SMTP=localhost" "Port=25" "Email1=" "Email2=" > "$DEMO/Korvex.ini"

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

build/tools/korvex-quiksim --workdir "$DEMO" > "$DEMO/quiksim.log" 2>&1 &
PIDS+=($!)
# The platform starts writing once the robot is up and watching.
(sleep 3; exec build/tools/korvex-alertsim --alerts "$DEMO/alerts.db" --trading "$DEMO/trading.db" --rate 2) > "$DEMO/alertsim.log" 2>&1 &
PIDS+=($!)

ARGS=(--workdir "$DEMO" --watch)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then ARGS+=(--headless); fi
echo "Demo workspace: $DEMO (simulator logs: quiksim.log, alertsim.log; stop with Ctrl+C or by closing the window)"
build/src/app/korvex "${ARGS[@]}"
