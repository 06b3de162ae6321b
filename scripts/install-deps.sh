#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and run the project, only those missing.
set -euo pipefail

packages=(build-essential make cmake pkg-config libmagickcore-6.q16-dev googletest libgtest-dev
          imagemagick libbenchmark-dev clang-14 libclang-rt-14-dev
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-opencv
          python3-tqdm python3-distributed python3-setuptools python3-wheel python3-venv python3-pip
          libpng-dev zlib1g-dev dpkg-dev)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing missing packages: ${missing[*]}"
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
