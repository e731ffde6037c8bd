#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Parlavox need.
# Only missing packages are installed; nothing is asked.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6
  libgl-dev libx11-dev libxext-dev libxcb1-dev libxcb-shape0-dev libxcb-damage0-dev
  libcurl4-openssl-dev duktape-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang clang-format clang-tidy libclang-rt-14-dev
  xvfb xauth openbox x11-utils xdotool dbus dbus-x11 trayer
  pidgin prosody python3 python3-slixmpp at-spi2-core libatk-adaptor libgail-common
  fonts-wqy-microhei fonts-dejavu-core
  # Qt's own dialogs in Chinese, and emoji in colour
  qt6-translations-l10n fonts-noto-color-emoji
  # parlavox-service: Apertium and its language pairs, espeak-ng and LAME as libraries, CLD2 for
  # language detection; libsndfile decodes its speech in the tests
  apertium apertium-eng-spa apertium-fr-es apertium-es-pt apertium-spa-ita apertium-dan-nor
  espeak-ng espeak-ng-data libespeak-ng-dev libmp3lame-dev libcld2-dev libsndfile1-dev
  # scoring the service's translations by hand (bench/quality/score.sh)
  apertium-eval-translator python3-nltk
  # two services behind a load balancer in the service's tests
  haproxy
  # the audio layer: libsndfile decodes, SDL2 plays
  libsdl2-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
