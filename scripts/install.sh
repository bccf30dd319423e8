#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Idempotent: when all are
# present it only asks dpkg and returns within a second. `install.sh fuzz` adds clang and its
# libFuzzer runtime for `make fuzz`. The archive tests' S3 server, the npm package s3rver at a
# pinned version, goes into build-tools/ beside the build folders.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake make pkg-config ccache clang-format
  libwxgtk3.2-dev libopencv-dev libboost-dev libboost-system-dev
  libleveldb-dev libsnappy-dev libaravis-dev aravis-tools libusb-1.0-0-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  xvfb xauth openbox x11-utils xdotool imagemagick iproute2 util-linux
  libdeflate-dev help2man dpkg-dev rclone nodejs
)
[ "${1:-}" = fuzz ] && packages+=(clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# Debian's npm, unless the installed Node.js brings its own (NodeSource's does, and conflicts).
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -x build-tools/node_modules/.bin/s3rver ]; then
  echo "Installing: s3rver 3.7.1 (npm) into build-tools/"
  npm install --prefix build-tools --no-audit --no-fund --loglevel=error s3rver@3.7.1 >/dev/null
fi
