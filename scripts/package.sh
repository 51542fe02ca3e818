#!/usr/bin/env bash
# Builds the release packages from a clean tree into packages/: a Release build of its own
# in build-release/ (the window, ulvarin-cli, the Python module and the Tango server; no
# tests or benchmarks), then CPack's Debian packages, checked by lintian.
#   scripts/package.sh            then: sudo apt install ./packages/ulvarin_*.deb ...
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=build-release
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DULVARIN_BUILD_TESTS=OFF -DULVARIN_BUILD_BENCH=OFF -DULVARIN_BUILD_PYTHON=ON \
  -DULVARIN_BUILD_TANGO=ON
cmake --build "$dir" -j "$(nproc)"
rm -rf packages
(cd "$dir" && cpack -G DEB -B "$PWD/../packages")
rm -rf packages/_CPack_Packages
lintian --tag-display-limit 0 packages/*.deb || true
ls -l packages/*.deb
