#!/usr/bin/env bash
# The main job: set up, build, and search the LAN. When no real devices are
# around (the default), it starts the simulated lab on the loopback interface
# and searches that; nothing is sent on the machine's real interfaces.
#   scripts/run-lab.sh            search the simulated lab
#   scripts/run-lab.sh --lan      search the real LAN instead (sends on every interface)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

if [ "${1:-}" = "--lan" ]; then
  exec "$build/bin/quayside" search
fi

log=$(mktemp)
"$build/bin/vsb-sim" --lab >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q '^ready' "$log" && break; sleep 0.1; done
grep -q '^ready' "$log" || { echo "run-lab: the simulator did not start:" >&2; cat "$log" >&2; exit 1; }
echo "Simulated lab running on 127.0.0.1 (vsb-sim --lab); searching it:"
"$build/bin/quayside" search --loopback
