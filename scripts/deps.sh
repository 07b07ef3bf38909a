#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only
# those that are missing. Sourced by run.sh and test.sh.
set -euo pipefail

PW_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libtiff-dev libpng-dev
  libhwy-dev libtbb-dev
  libeigen3-dev libopencv-imgproc-dev
  libzstd-dev liblzma-dev libwebp-dev
  geotiff-bin libproj-dev proj-data gdal-bin
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  imagemagick netpbm libtiff-tools libjpeg-turbo-progs python3 python3-pil
  xvfb xauth fonts-dejavu-core librsvg2-bin
  dpkg-dev desktop-file-utils appstream lintian man-db groff-base help2man
  libcli11-dev nlohmann-json3-dev libtesseract-dev tesseract-ocr-eng
  libopenjp2-7-dev libopenjp2-tools libgeotiff-dev python3-gdal poppler-utils
)

pw_install_missing() {
  local missing=()
  for p in "${PW_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
