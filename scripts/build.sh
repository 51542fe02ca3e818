#!/usr/bin/env bash
# Configures (once) and builds the project into build/. ULVARIN_WERROR=ON (set by CI) makes
# every compiler warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DULVARIN_WERROR="${ULVARIN_WERROR:-OFF}"
cmake --build build -j "$(nproc)"
