#!/usr/bin/env bash
# Installs the Debian packages Tavoria needs to build, run and test, when any is missing.
# Sourced or run by scripts/run and scripts/test.
set -euo pipefail

TAVORIA_PACKAGES=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-websockets-dev libqt6websockets6 qt6-translations-l10n
  libvlc-dev libvlc5 vlc-plugin-base vlc-plugin-video-output libvlc-bin
  libsdl2-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libxml2-dev
  libx11-dev libxcb1-dev libxcb-xinput-dev
)
TAVORIA_TEST_PACKAGES=(
  xvfb xauth pulseaudio pulseaudio-utils ffmpeg sox espeak-ng xdotool imagemagick
  fonts-dejavu-core python3 vlc-bin
  dbus playerctl chromium chromium-driver python3-selenium
  dpkg-dev appstream desktop-file-utils
)

tavoria_install() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  tavoria_install "${TAVORIA_PACKAGES[@]}" "${TAVORIA_TEST_PACKAGES[@]}"
fi
