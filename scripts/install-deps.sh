#!/usr/bin/env bash
# Installs every Debian package Tuftmill needs to build, run and test.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  lib3ds-dev libassimp-dev libstb-dev libglew-dev libgl1-mesa-dri libegl-dev libegl-mesa0
  libx11-dev xvfb xauth xdotool imagemagick assimp-utils
  fonts-dejavu-core
  desktop-file-utils appstream dpkg-dev file man-db librsvg2-bin
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libpng-dev zlib1g-dev
  slurm-wlm munge
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
