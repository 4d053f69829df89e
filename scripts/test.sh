#!/usr/bin/env bash
# Sets up, builds and runs every test:
#   1. the ordinary build and its whole suite (unit, loopback lab, and the
#      network-namespace LAN when run as root); then, as root, the Debian
#      package built from it, installed, run from /usr/bin on the loopback lab
#      in a network namespace of its own, and purged;
#   2. a clang build with AddressSanitizer and UndefinedBehaviorSanitizer,
#      the same suite again, and each fuzzer for a bounded time: the reply
#      decoders for FUZZ_SECONDS (default 60), the simulator's requests and
#      config, the web server's requests and the script interpreter for
#      FUZZ_TARGET_SECONDS each (default 20).
# Everything sends only on loopback or inside namespaces the tests create.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
asan=${ASAN_BUILD_DIR:-$top/build-asan}
fuzz_seconds=${FUZZ_SECONDS:-60}
fuzz_target_seconds=${FUZZ_TARGET_SECONDS:-20}

"$top/scripts/setup.sh" || exit 1

passed=0
failed=0
status=0
# Every temporary file of this run lives in one private folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_suite() {  # run_suite NAME BUILD_DIR
  local log="$work/ctest.log"
  echo "== $1: ctest"
  (cd "$2" && ctest --output-on-failure -j2 --timeout 300) 2>&1 | tee "$log"
  local line total fails
  line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -1)
  if [ -z "$line" ]; then
    echo "== $1: no test summary" >&2
    failed=$((failed + 1)); status=1
  else
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails)); failed=$((failed + fails))
    [ "$fails" -eq 0 ] || status=1
  fi
  rm -f "$log"
}

run_fuzz() {  # run_fuzz TARGET SECONDS: bin/fuzz_TARGET from fuzz/seeds/TARGET/
  local corpus found
  echo "== fuzz_$1 for $2s"
  corpus=$(mktemp -d "$work/corpus.XXXXXX")
  found=$(mktemp -d "$work/found.XXXXXX")
  cp "$top/fuzz/seeds/$1"/* "$corpus"/
  if "$asan/bin/fuzz_$1" -max_total_time="$2" -timeout=10 -print_final_stats=1 -artifact_prefix="$found/" \
      "$corpus" >"$corpus.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$corpus.log"
    passed=$((passed + 1))
    rm -rf "$found"
  else
    tail -40 "$corpus.log" >&2
    keep=$(mktemp -d "${TMPDIR:-/tmp}/quayside-fuzz-finding.XXXXXX")
    cp -r "$found"/. "$keep"/
    echo "== fuzz_$1 found a fault; the input is kept in $keep" >&2
    failed=$((failed + 1)); status=1
  fi
  rm -rf "$corpus" "$corpus.log"
}

run_package() {  # run_package BUILD_DIR: one test, passed or failed
  echo "== package: build, install, run from /usr/bin, purge"
  if [ "$(id -u)" -ne 0 ]; then
    echo "== package: skipped (installing a package needs root)"
    return
  fi
  local log deb files ns="qspkg-$$" sim ok=1
  log="$work/package.log"; files="$work/package.files"
  fail() { echo "== package: $*" >&2; ok=0; }
  export DEBIAN_FRONTEND=noninteractive
  if deb=$(timeout 1800 "$top/scripts/package.sh" "$1" 2>"$log" | tail -1) && [ -f "$deb" ]; then
    ls -l "$deb"
    dpkg-query -W quayside >/dev/null 2>&1 && timeout 300 apt-get purge -y -qq quayside >/dev/null
    if ! timeout 300 apt-get install -y -qq "$deb" >"$log" 2>&1; then
      cat "$log" >&2; fail "apt-get install failed"
    else
      dpkg -L quayside >"$files"
      timeout 10 /usr/bin/quayside --version || fail "quayside --version failed"
      ip netns add "$ns" && ip netns exec "$ns" ip link set lo up
      ip netns exec "$ns" timeout 120 /usr/bin/vsb-sim --lab >"$log" 2>&1 &
      sim=$!
      for _ in $(seq 300); do grep -qx ready "$log" && break; sleep 0.1; done
      if ! grep -qx ready "$log"; then
        cat "$log" >&2; fail "vsb-sim --lab did not say ready"
      else
        ip netns exec "$ns" timeout 30 /usr/bin/quayside search --loopback | grep -q 'vsb-reception' ||
          fail "quayside search --loopback did not find the lab"
        local shot="$log.png"
        ip netns exec "$ns" env QT_QPA_PLATFORM=offscreen timeout 60 \
          /usr/bin/quayside-win --loopback --screenshot "$shot" >/dev/null &&
          [ -s "$shot" ] || fail "quayside-win --screenshot failed"
        rm -f "$shot"
      fi
      kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null
      ip netns del "$ns"
    fi
    timeout 300 apt-get purge -y -qq quayside >/dev/null 2>&1 || fail "apt-get purge failed"
    while read -r f; do
      [ -f "$f" ] && fail "$f is left after the purge"
    done <"$files"
  else
    tail -40 "$log" >&2; fail "the package was not built"
  fi
  rm -f "$log" "$files"
  if [ "$ok" -eq 1 ]; then
    echo "== package: passed"; passed=$((passed + 1))
  else
    failed=$((failed + 1)); status=1
  fi
}

echo "== build (gcc)"
if "$top/scripts/build.sh" "$build"; then
  run_suite "ordinary build" "$build"
  run_package "$build"
else
  echo "== build failed" >&2; failed=$((failed + 1)); status=1
fi

echo "== build (clang, address and undefined-behaviour sanitizers, fuzzer)"
if CC=clang CXX=clang++ "$top/scripts/build.sh" "$asan" -DQS_SANITIZE=ON -DQS_FUZZ=ON -DQS_GUI=OFF; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite "sanitizer build" "$asan"
  run_fuzz reply "$fuzz_seconds"
  for target in sim_request web_request script sim_config firewall box_store dialog_template lan_checks; do
    run_fuzz "$target" "$fuzz_target_seconds"
  done
else
  echo "== sanitizer build failed" >&2; failed=$((failed + 1)); status=1
fi

echo "tests: $passed passed, $failed failed"
exit $status
