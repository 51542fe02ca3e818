#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libftdi1-dev libusb-1.0-0-dev libgtest-dev
          libgmock-dev libbenchmark-dev qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core libcli11-dev libhdf5-dev
          libtiff-dev python3-h5py python3-numpy python3-tifffile python3-silx hdf5-tools
          pybind11-dev python3-dev python3-pytest libzmq3-dev cppzmq-dev nlohmann-json3-dev
          python3-zmq locales libtango-dev python3-tango help2man desktop-file-utils
          appstream lintian dpkg-dev clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# A decimal comma locale, so the tests that numbers keep their point under one can run.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "de_DE.UTF-8 not generated"
fi
