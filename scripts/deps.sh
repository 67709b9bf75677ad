#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vistelle need.
#   scripts/deps.sh          build and run dependencies
#   scripts/deps.sh --test   also what the tests, the benchmarks and the fuzzers need
#   scripts/deps.sh --fuzz   the build dependencies and what the fuzzers need (scripts/fuzz.sh)
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6opengl6-dev libqt6svg6
          libcurl4-openssl-dev libssl-dev libasound2-dev libsndfile1-dev libgl-dev libsqlite3-dev qt6-charts-dev
          libpsl-dev libmosquitto-dev publicsuffix libcap2-bin qtkeychain-qt6-dev
          sound-theme-freedesktop alsa-utils ca-certificates)
fuzz_packages=(clang-14 libfuzzer-14-dev llvm-14)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(xvfb xauth xdotool trayer x11-utils imagemagick openbox python3 openssl
               nginx-light libmaxminddb-dev libmaxmind-db-writer-perl iproute2 procps chromium clang-format dbus-daemon
               pulseaudio pulseaudio-utils libasound2-plugins desktop-file-utils libglib2.0-bin
               python3-pyatspi at-spi2-core dbus pebble mosquitto mosquitto-clients gnome-keyring libsecret-tools weston xwayland qt6-wayland mutter sway grim x11-xserver-utils libnss3-tools dpkg-dev file lintian appstream man-db
               "${fuzz_packages[@]}")
elif [[ "${1:-}" == "--fuzz" ]]; then
    packages+=("${fuzz_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
