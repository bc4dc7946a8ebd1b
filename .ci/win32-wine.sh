#!/bin/sh
# Builds the Win32 conformance tests for Windows x86-64 and runs them under Wine, so that the
# POSIX emulation and a real Win32 are held to the same tests. Run from the repository root.
set -eu

build=${BUILD_DIR:-build-win64}

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DBRIDGES_WIN32_TESTS_ONLY=ON
cmake --build "$build" -j2 --target win32_tests

# Debian puts the 64-bit loader outside PATH; fall back to the wine wrapper.
if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
else
  wine=wine
fi

# A throwaway prefix, made quietly: no Mono/Gecko prompts, no debug chatter.
WINEPREFIX=$(cd "$build" && pwd)/wineprefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
WINEARCH=win64
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES WINEARCH

exe=$(find "$build" -name win32_tests.exe -type f | head -n 1)
[ -n "$exe" ] || { echo "win32_tests.exe was not built" >&2; exit 1; }

status=0
timeout 900 xvfb-run -a sh -c '
  "$1" wineboot --init >/dev/null 2>&1 || true
  "$1" "$2"
  rc=$?
  wineserver -k >/dev/null 2>&1 || true
  exit $rc
' win32-wine "$wine" "$exe" || status=$?

if [ "$status" -ne 0 ]; then
  echo "win32_tests failed under Wine (exit $status)" >&2
fi
exit "$status"
