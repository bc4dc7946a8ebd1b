#!/usr/bin/env bash
# Builds everything for Linux and runs the demo against the stand-in stacks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cmake --build build --target demo
