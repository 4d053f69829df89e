#!/usr/bin/env bash
# The main job: set up, build, start the simulated lab on the loopback
# interface and run quayside-win (or quayside-mac) against it. Without a
# display the window is rendered off-screen to a PNG instead, and its path
# is printed. Nothing is sent on the machine's real interfaces.
#   scripts/run-lab.sh            the simulated lab, quayside-win
#   scripts/run-lab.sh --mac      the simulated lab, quayside-mac
#   scripts/run-lab.sh --lan      the real LAN instead (sends on every interface)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

program=quayside-win
lan=no
for arg in "$@"; do
  case "$arg" in
    --mac) program=quayside-mac ;;
    --win) program=quayside-win ;;
    --lan) lan=yes ;;
    *) echo "usage: scripts/run-lab.sh [--mac] [--lan]" >&2; exit 2 ;;
  esac
done

args=(--loopback)
if [ "$lan" = yes ]; then
  args=()
else
  work=$(mktemp -d)
  log="$work/vsb-sim.log"
  # The lab's web pages (port 80) and file shares (smbd) need root; they
  # listen on 127.0.0.N only. An ordinary user starts the simulator through
  # sudo and runs the program as themselves.
  sim_cmd=("$build/bin/vsb-sim" --lab)
  stop=(kill)
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null && sudo -v; then
      sim_cmd=(sudo "${sim_cmd[@]}")
      stop=(sudo kill)
    else
      echo "run-lab: no sudo: the lab runs without its web pages and file shares." >&2
    fi
  fi
  "${sim_cmd[@]}" >"$log" 2>&1 &
  sim=$!
  trap '"${stop[@]}" $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 50); do grep -q '^ready' "$log" && break; sleep 0.1; done
  grep -q '^ready' "$log" || { echo "run-lab: the simulator did not start:" >&2; cat "$log" >&2; exit 1; }
  echo "Simulated lab running on 127.0.0.1 (vsb-sim --lab); every box's administrator password is 'admin'."
  "$build/bin/quayside" search --loopback
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$build/bin/$program" "${args[@]}"
else
  shot="$build/$program.png"
  echo "No display: rendering the main window off-screen."
  "$build/bin/$program" "${args[@]}" --screenshot "$shot" >/dev/null
  echo "Screenshot of $program: $shot"
fi
