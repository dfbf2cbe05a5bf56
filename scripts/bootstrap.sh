#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only when one is missing,
# so `make` works on a fresh machine and costs nothing on a prepared one.
# Usage: bootstrap.sh [extra-package ...]
set -eu
pkgs="g++ cmake ninja-build make libgtest-dev libgmock-dev libbenchmark-dev libssl-dev libgmp-dev python3 binutils pkg-config pybind11-dev python3-dev python3-numpy python3-pytest nats-server libnats-dev $*"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "bootstrap: missing packages:$missing; installing them with apt-get"
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
