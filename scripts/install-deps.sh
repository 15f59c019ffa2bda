#!/usr/bin/env bash
# Installs the Debian packages Quillora needs to build, run and test.
# Only packages that are missing are installed; the package lists are
# refreshed once, and only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libjpeg62-turbo-dev libtiff-dev
  libsane-dev sane-utils libsane1 sane-airscan
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick poppler-utils fonts-dejavu-core
  cups cups-client cups-daemon fonts-liberation
  fp-utils libchm-dev
  libtesseract-dev tesseract-ocr-deu tesseract-ocr-eng
  librsvg2-bin qt6-translations-l10n
  dpkg-dev file desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
