#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need; installs nothing
# that is already there. Runs apt-get as root, or through sudo.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev libqcustomplot-dev libqcustomplot2.1-qt6
  libftdi1-dev libusb-1.0-0-dev nlohmann-json3-dev libcli11-dev
  help2man lintian desktop-file-utils appstream dpkg-dev file
  clang-14 libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core locales
  poppler-utils # pdftotext: the certificate test reads the PDF back
  util-linux # setpriv: the test runs as a user without privileges
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The profile file test needs a locale with a decimal comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "warning: could not generate de_DE.UTF-8"
fi
