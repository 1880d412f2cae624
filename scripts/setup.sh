#!/usr/bin/env bash
# Installs what the project needs from Debian's packages (only what is
# missing) and configures and builds it. Idempotent.
#   scripts/setup.sh [--sanitize] [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
build_dir=build
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=ON ;;
    --build-dir) build_dir="$2"; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  imagemagick
  libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev libqpdf-dev zlib1g-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-liberation2
  tesseract-ocr tesseract-ocr-eng
  libtiff-tools poppler-utils qpdf libjpeg-turbo-progs zbar-tools
  man-db groff-base bsdextrautils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Reuse an existing configuration unless the sanitizer choice changes.
build_type=RelWithDebInfo
[ "$sanitize" = ON ] && build_type=Sanitize
if [ ! -f "$build_dir/build.ninja" ] || \
   ! grep -q "^ORV_SANITIZE:BOOL=$sanitize" "$build_dir/CMakeCache.txt" 2>/dev/null || \
   ! grep -q "^CMAKE_BUILD_TYPE:STRING=$build_type" "$build_dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "$build_dir" -G Ninja -DORV_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
fi
cmake --build "$build_dir" -j"$(nproc)"
