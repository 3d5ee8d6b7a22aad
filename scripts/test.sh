#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; then builds the tests again with
# ThreadSanitizer and with AddressSanitizer + UndefinedBehaviorSanitizer and runs them there.
# SANITIZERS="" skips the sanitizer trees; SANITIZERS=thread runs only that one.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages

start=$SECONDS
phase() { echo "=== $1 ($((SECONDS - start)) s so far)"; }

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j2
phase "built $BUILD_DIR"
# A failing tree does not stop the others; the exit status says whether any failed.
failed=()
ctest --test-dir "$BUILD_DIR" -j2 --output-on-failure || failed+=("$BUILD_DIR")
phase "tested $BUILD_DIR"

# A sanitizer report ends the process at once with status 66, which no test expects: the
# in-process tests fail, and so do the black-box tests, whose child tool inherits these.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
export ASAN_OPTIONS="halt_on_error=1:exitcode=66:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:exitcode=66:print_stacktrace=1"

# Unoptimised: the tests mostly sleep, and -O0 halves the sanitizer trees' compile time.
SANITIZERS=${SANITIZERS-thread address,undefined}
for sanitize in $SANITIZERS; do
  case $sanitize in
    thread) dir=build-tsan ;;
    address,undefined) dir=build-asan ;;
    *) dir=build-${sanitize//,/-} ;;
  esac
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DORVALINQUIST_SANITIZE="$sanitize" -DORVALINQUIST_FUZZ=OFF -DORVALINQUIST_BENCH=OFF
  cmake --build "$dir" -j2
  phase "built $dir"
  ctest --test-dir "$dir" -j2 --output-on-failure || failed+=("$dir")
  phase "tested $dir"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Tests failed in: ${failed[*]}" >&2
  exit 1
fi
