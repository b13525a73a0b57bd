#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Run as root on Debian 12. Safe to run again.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # libraries the program links
  zlib1g-dev libx11-dev libxext-dev libxfixes-dev
  libcairo2-dev libpango1.0-dev
  libavcodec-dev libavutil-dev libswscale-dev
  libcurl4 libelf-dev libdw-dev
  # fonts: a sans face and CJK coverage for the Chinese captions
  fonts-dejavu-core fonts-noto-cjk
  # peers the tests run against
  ffmpeg xvfb xdotool xclip x11-utils shared-mime-info
  # the GTK program the framework test runs
  libgtk-3-dev
  python3 python3-aiosmtpd python3-pyftpdlib dnsmasq-base openssl
  libzydis-dev binutils
  # a GLib main loop for the freeze watch of programs that run one
  libglib2.0-dev
  pngcheck imagemagick python3-pil
  libxml2-utils unrtf curl file iproute2 hostname
  # the check that network tests reach loopback only
  strace gdb
  # benchmarks
  time bc hyperfine valgrind
)

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
