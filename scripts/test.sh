#!/usr/bin/env bash
# Installs what is missing, checks the sources' layout (scripts/format.sh),
# builds, and runs every test headless. Then builds
# everything once more with the address and undefined-behaviour sanitizers
# into build-asan/ (or $ASAN_BUILD_DIR) and runs every test there too; any
# sanitizer report, also one from a program a test starts, fails the run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/format.sh" --check
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
# Most tests wait (for a server, a shaped link, the program's own limits)
# far more than they compute: the longest one, the hostile servers' runs,
# holds one of ctest's slots for four minutes at almost no load. With two
# tests a core the others share the remaining slots and the round ends
# about when that one does (normal round on two cores: 245 s, not 344 s).
# ORV_TEST_JOBS sets another number.
jobs="${ORV_TEST_JOBS:-$(($(nproc) * 2))}"
ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j"$jobs" --timeout 600

asan_build="${ASAN_BUILD_DIR:-$root/build-asan}"
BUILD_DIR="$asan_build" "$root/scripts/build.sh" -DORV_SANITIZE=ON

# A report ends its process with an exit status of its own (86 from the
# address and leak sanitizers, 87 from the undefined-behaviour one), so a
# program that a test starts and expects to end with 1 or 2 cannot hide one.
# Address and leak reports also go to files, which fail the run whatever the
# tests made of the exit status; undefined-behaviour reports are found in the
# test output.
reports="$asan_build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:exitcode=86:detect_leaks=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:exitcode=87:print_stacktrace=1"
# Leaks inside the window system's libraries (fontconfig, Qt's platform
# plugins, D-Bus) are theirs; tests/lsan.supp names only such libraries.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"

status=0
ctest --test-dir "$asan_build" --output-on-failure -j"$jobs" --timeout 900 || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:"
  for f in "$reports"/*; do
    echo "--- $f"
    cat "$f"
  done
  status=1
fi
if grep -E -h ":[0-9]+:[0-9]+: runtime error: " "$asan_build"/Testing/Temporary/LastTest*.log 2>/dev/null; then
  echo "Undefined behaviour reported; see the test output above."
  status=1
fi
exit "$status"
