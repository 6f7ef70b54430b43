#!/usr/bin/env bash
# Sets up, builds and runs every test: native GL tests, the sanitized
# (ASan+UBSan) native tests, the embedded-JVM tests and the JUnit tests,
# then checks the formatting.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
# Warnings are errors here (CI runs this script), not in a plain setup.
# Everything is built, also in a folder the demo configured without tests.
"$here/scripts/setup.sh" "$build" -DQV_WERROR=ON -DQV_BUILD_TESTS=ON -DQV_BUILD_SANITIZED=ON -DQV_BUILD_BENCH=ON
cd "$build"
ctest -j"$(nproc)" --output-on-failure
# The sources follow .clang-format (clang-format-14 comes with the packages).
"$here/scripts/format-check.sh"
