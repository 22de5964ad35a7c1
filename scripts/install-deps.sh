#!/usr/bin/env bash
# Installs the Debian packages that building, testing, packaging and the demo need.
# Only missing packages are installed; nothing happens when all are present.
set -euo pipefail

packages=(
    cmake make g++ pkg-config ccache
    clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-private-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev
    postgresql prometheus curl
    libftdi1-dev libudev-dev libtomlplusplus-dev prometheus-cpp-dev
    umockdev libumockdev-dev
    xvfb xauth fonts-dejavu-core
    dpkg-dev help2man lintian desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
