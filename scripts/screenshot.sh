#!/usr/bin/env bash
# Takes a screenshot of the main window under Xvfb into docs/main-window.png (or $1), and
# one of the statistics window after 100 send cycles against a loopback device answering
# 1-20 ms late into docs/statistics-window.png (or $2).
# Runs Ostrel from a temporary program folder with the default settings.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/main-window.png}
statistics_out=${2:-docs/statistics-window.png}
work=$(mktemp -d)
trap 'kill "${app:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "${OSTREL_BUILD:-build}/app/ostrel" "$work/"
mkdir -p "$work/Config"
cp config/Kiv_UdpSendSetting.ini "$work/Config/"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
(cd "$work" && QT_QPA_PLATFORM=xcb ./ostrel) &
app=$!
window=$(xdotool search --sync --onlyvisible --name '^Ostrel$' | head -n 1)
sleep 1.5  # let the clock tick once
mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "wrote $out"

# The statistics window, drawn by its own program after real cycles (about 15 s).
QT_QPA_PLATFORM=offscreen "${OSTREL_BUILD:-build}/tests/statistics/statistics_screenshot" "$statistics_out"
