#!/usr/bin/env bash
# Installs the Debian 12 packages fieldmon needs, when any is missing.
# As root it runs apt-get. Anyone else gets the one command that would
# install them, and exit status 1: it never runs apt-get (or sudo) itself.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-tools-dev libgl-dev qt6-qpa-plugins qt6-charts-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libmuparser-dev libcpp-httplib-dev nlohmann-json3-dev
  libmosquitto-dev mosquitto python3-prometheus-client
  libpcap-dev tshark tcpdump
  libsqlite3-dev
  iproute2 util-linux python3
  fonts-dejavu-core
  dpkg-dev file lintian desktop-file-utils appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "fieldmon: these Debian packages are missing: ${missing[*]}. Install them with:" >&2
  echo "sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "fieldmon: installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
