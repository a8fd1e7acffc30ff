#!/usr/bin/env bash
# Installs the Debian packages the project needs, in groups, so that a
# newcomer's first build brings only what building and rendering need.
#
# Usage: scripts/install-deps.sh [--tests | --all] [extra package ...]   (run as root)
#   (nothing)  building the effect and the pennaro tool, and rendering
#   --tests    that and everything the test lanes use (GoogleTest, the
#              browser, the Slurm cluster, the video tools, the renderers
#              the tests hold exports to, clang for the fuzz run)
#   --all      that and the optional large libraries (every layer format)
set -euo pipefail

tool=(
  build-essential cmake pkg-config
  libpng-dev zlib1g-dev nlohmann-json3-dev libcli11-dev libcpp-httplib-dev
  libopenexr-dev libtiff-dev libisal-dev libpugixml-dev
)
tests=(
  googletest libgtest-dev libbenchmark-dev libstb-dev
  openexr libtiff-tools
  parallel slurm-wlm munge
  chromium chromium-driver python3-selenium
  librsvg2-bin librlottie-dev
  clang-14 libclang-rt-14-dev
  # Movies (the build finds FFmpeg's libraries when present), the frei0r
  # filter and the video hosts its tests drive.
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg frei0r-plugins-dev melt
)
# Layers in every format OpenImageIO reads (the build finds it when present).
optional=(libopenimageio-dev)

packages=("${tool[@]}")
case "${1:-}" in
  --tests) shift; packages+=("${tests[@]}") ;;
  --all) shift; packages+=("${tests[@]}" "${optional[@]}") ;;
esac
packages+=("$@")

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
