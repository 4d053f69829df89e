#!/usr/bin/env bash
# Renders quayside-win and quayside-mac against the simulated lab off-screen
# and stores the pictures the README shows (docs/quayside-win.png,
# docs/quayside-mac.png).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/build.sh" "$build"
work=$(mktemp -d)
log="$work/vsb-sim.log"
"$build/bin/vsb-sim" --lab >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q '^ready' "$log" && break; sleep 0.1; done
mkdir -p "$top/docs"
QT_QPA_PLATFORM=offscreen "$build/bin/quayside-win" --loopback --screenshot "$top/docs/quayside-win.png"
QT_QPA_PLATFORM=offscreen "$build/bin/quayside-mac" --loopback --screenshot "$top/docs/quayside-mac.png"
