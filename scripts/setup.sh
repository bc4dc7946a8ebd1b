#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Windows cross builds need,
# only those that are missing.
set -euo pipefail
packages=(cmake make g++ openjdk-17-jdk-headless googletest libgtest-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
