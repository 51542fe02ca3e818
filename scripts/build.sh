#!/usr/bin/env bash
# Configures and builds the project into build/. ULVARIN_WERROR=ON (set by CI) makes every
# compiler warning an error. The configure runs every time (it is cheap once the folder
# exists), so an option given to a folder built before still takes effect.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DULVARIN_WERROR="${ULVARIN_WERROR:-OFF}"
cmake --build build -j "$(nproc)"
