#!/bin/sh
# Installs the Debian packages that building, running and testing Pictorix need.
# Only what is missing is installed; a machine that has everything is left alone.
set -e

PACKAGES="
build-essential cmake ninja-build pkg-config
libjpeg62-turbo-dev libpng-dev zlib1g-dev libgif-dev libtiff-dev
libfreetype-dev libfontconfig-dev fonts-liberation2 libopenjp2-7-dev libopenjp2-tools
libcli11-dev qt6-base-dev
libgtest-dev libgmock-dev libbenchmark-dev
clang libclang-rt-14-dev
imagemagick libmagickcore-6.q16-6-extra pngcheck libtiff-tools xvfb
gifsicle qpdf poppler-utils libwmf-bin ghostscript libreoffice-draw-nogui
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

echo "Installing missing packages:$missing"
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
