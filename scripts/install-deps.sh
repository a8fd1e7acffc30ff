#!/usr/bin/env bash
# Installs the Debian packages the build, the tools and the tests need.
# Usage: scripts/install-deps.sh [extra package ...]   (run as root)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libbenchmark-dev
  libpng-dev zlib1g-dev nlohmann-json3-dev libcli11-dev libstb-dev
  parallel slurm-wlm munge
  libcpp-httplib-dev chromium chromium-driver python3-selenium
  libopenexr-dev openexr libtiff-dev libtiff-tools libisal-dev
  libpugixml-dev librsvg2-bin librlottie-dev
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
