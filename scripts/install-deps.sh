#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only when missing.
set -euo pipefail
packages=(cmake g++ ninja-build pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev clang libclang-rt-14-dev xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
