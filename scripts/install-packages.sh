#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Idempotent: asks apt only for what is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ python3 curl openssl libssl-dev
  mingw-w64 googletest libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  wine wine64 xvfb x11-apps xdotool
  nginx-light iproute2
  libhidapi-dev libcurl4-openssl-dev
  libfuse3-dev fuse3 util-linux
  fonts-wqy-microhei fonts-wqy-zenhei fonts-wine
  dpkg-dev lintian scdoc man-db fakeroot bash-completion
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
