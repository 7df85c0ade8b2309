#!/usr/bin/env bash
# Installs every Debian package tarnmon needs to build, test and run.
# Idempotent: packages already present are left alone.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config g++-multilib
  clang libclang-rt-14-dev clang-format-14
  qt6-base-dev qt6-base-dev-tools libqt6sql6-mysql libgl-dev
  qt6-charts-dev libqt6opengl6-dev qt6-l10n-tools
  libcurl4-openssl-dev libpugixml-dev libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  mariadb-server mariadb-client
  python3-pyftpdlib
  tshark
  xvfb xauth imagemagick
  fonts-arphic-ukai fonts-noto-cjk
  procps iproute2 psmisc
  dpkg-dev file
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PKGS[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer no without a prompt.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
# mariadb-server's package starts a system instance; tests run their own.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now mariadb >/dev/null 2>&1 || true; fi
echo "install-deps: done"
