#!/usr/bin/env bash
# Builds and runs every test: the Linux suites (under -Xcheck:jni), the same suites built with
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows i686 cross build of the
# libraries, and the Win32 conformance tests built for Windows x86-64 and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== Linux build and tests =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIDGES_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure

echo "== Windows i686 cross build =="
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build-win32 -j"$jobs"

echo "== Win32 conformance tests under Wine =="
bash .ci/win32-wine.sh
