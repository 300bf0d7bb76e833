#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds and tests with, skipping those already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libsimdjson-dev nlohmann-json3-dev libcli11-dev
  pkgconf libutf8proc-dev zlib1g-dev libzstd-dev help2man bash-completion
  pybind11-dev python3-dev python3-pytest python3-pandas python3-matplotlib python3-distributed python3-psutil
  chromium fonts-dejavu-core libcpp-httplib-dev nodejs
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# npm comes with some builds of nodejs; Debian's own is a package of its own.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser tests' puppeteer-core, exactly as the lockfile says; it drives Debian's Chromium and
# downloads no browser. Once installed, the tests need no network.
browser_tests="$(cd "$(dirname "$0")/.." && pwd)/server/tests/browser"
if [ ! -d "$browser_tests/node_modules/puppeteer-core" ]; then
  (cd "$browser_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund)
fi
