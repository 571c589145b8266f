#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, only when missing.
# With --bench also the peers bench/run measures the tool against (GStreamer's subparse) and
# GNU time, which it reads peak memory with; nothing else needs them.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format clang-tidy pkg-config libicu-dev icu-devtools
  libgtest-dev libgmock-dev libbenchmark-dev w3c-sgml-lib libclang-rt-14-dev libavformat-dev
  libavcodec-dev libavutil-dev valgrind
  binutils python3 dpkg-dev file lintian man-db groff-base ffmpeg libgstreamer1.0-dev
  libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good libpango1.0-dev python3-gi gir1.2-gstreamer-1.0
  gir1.2-gst-plugins-base-1.0 fonts-nanum)
if [ "${1:-}" = "--bench" ]; then
  packages+=(time)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
