#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds and tests with, skipping those already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libsimdjson-dev nlohmann-json3-dev libcli11-dev
  pkgconf libutf8proc-dev zlib1g-dev libzstd-dev help2man bash-completion
  pybind11-dev python3-dev python3-pytest python3-pandas python3-matplotlib python3-distributed
  chromium fonts-dejavu-core
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
