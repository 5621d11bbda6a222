#!/usr/bin/env bash
# Builds and runs the whole test suite: a plain build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded serial and audit
# log tests under ThreadSanitizer, and a short libFuzzer run of the controller.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh test

jobs=$vexel_jobs
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

configure() {  # configure DIR [cmake args...]; warnings stop every build made here
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXEL_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
}
build() {  # build DIR [cmake args...]
  configure "$@"
  cmake --build "$1" -j "$jobs"
}

echo "== plain build"
# Tests and benchmarks on, also in a folder that scripts/run.sh made without.
build build -DVEXEL_BUILD_TESTS=ON -DVEXEL_BUILD_BENCH=ON
ctest --test-dir build -j "$jobs" --timeout 300

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DVEXEL_SANITIZE=address,undefined -DVEXEL_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --timeout 600

echo "== ThreadSanitizer (serial line, audit log and their threads)"
configure build-tsan -DVEXEL_SANITIZE=thread -DVEXEL_BUILD_GUI=OFF -DVEXEL_BUILD_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target serial_thread_tests serial_controller_tests cli_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -L tsan -j "$jobs" --timeout 600

echo "== libFuzzer (controller, short run)"
configure build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVEXEL_BUILD_FUZZ=ON -DVEXEL_BUILD_TESTS=OFF \
  -DVEXEL_BUILD_GUI=OFF -DVEXEL_BUILD_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target fuzz_controller
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  # One worker per core: the machine does nothing else meanwhile.
  "$f" -fork="$jobs" -max_total_time=20 "$corpus" >"$f.log" 2>&1 || { tail -n 60 "$f.log"; exit 1; }
  echo "$(basename "$f"): no finding in 20 s ($(grep -o '^#[0-9]*' "$f.log" | tail -1 | tr -d '#') executions)"
done
echo "== Windows edition: cross-build, tests under Wine, a whole run of the dialog program, the setup program"
# Release, as the setup program ships it (scripts/package-windows.sh).
configure build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
scripts/test-windows.sh build-win
scripts/test-windows-run.sh
scripts/test-windows-installer.sh

echo "== the command-line loader on the kernel's own 8250 and ftdi_sio drivers, in a QEMU guest"
scripts/test-real-drivers.sh build

echo "== benchmark harness (tiny sizes: keeps it working, asserts nothing)"
/usr/bin/python3 bench/run_bench.py --build build --quick

echo "== all tests passed"
