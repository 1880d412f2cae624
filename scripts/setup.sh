#!/usr/bin/env bash
# Installs what the project needs from Debian's packages (only what is
# missing) and configures and builds it. Idempotent.
#   scripts/setup.sh [--sanitize] [--no-tests] [--build-dir DIR] [--target T] [--log FILE]
#     --sanitize   AddressSanitizer and UndefinedBehaviorSanitizer (./test.sh)
#     --no-tests   no test programs (-DORV_TESTS=OFF)
#     --target T   build only T and what it needs (default: everything)
#     --log FILE   configure and build output go to FILE (replaced each time)
#                  instead of the terminal; when the build fails, the end of
#                  FILE is shown on standard error
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
tests=ON
build_dir=build
target=
log=
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=ON ;;
    --no-tests) tests=OFF ;;
    --build-dir) build_dir="${2:?--build-dir needs a folder}"; shift ;;
    --target) target="${2:?--target needs a target}"; shift ;;
    --log) log="${2:?--log needs a file}"; shift ;;
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
  libzxing-dev libzbar-dev zint
  tesseract-ocr tesseract-ocr-eng tesseract-ocr-osd libtesseract-dev
  libtiff-tools poppler-utils qpdf libjpeg-turbo-progs zbar-tools
  man-db groff-base bsdextrautils
  libcurl4 openssl python3
  libfltk1.3-dev xvfb xdotool x11-utils
  libcups2-dev cups-daemon cups-client
  libsane-dev libsane1 sane-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# libcurl's header (the library is loaded at run time): any of Debian's
# libcurl4-*-dev packages has it; take the OpenSSL one when none is there.
compgen -G '/usr/include/*/curl/curl.h' >/dev/null || [ -f /usr/include/curl/curl.h ] ||
  missing+=(libcurl4-openssl-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Reuse an existing configuration unless the sanitizer or test choice changes.
build_type=RelWithDebInfo
[ "$sanitize" = ON ] && build_type=Sanitize
configured() {
  [ -f "$build_dir/build.ninja" ] &&
    grep -q "^ORV_SANITIZE:BOOL=$sanitize" "$build_dir/CMakeCache.txt" 2>/dev/null &&
    grep -q "^ORV_TESTS:BOOL=$tests" "$build_dir/CMakeCache.txt" 2>/dev/null &&
    grep -q "^CMAKE_BUILD_TYPE:STRING=$build_type" "$build_dir/CMakeCache.txt" 2>/dev/null
}
build() {
  if ! configured; then
    cmake -S . -B "$build_dir" -G Ninja -DORV_SANITIZE="$sanitize" -DORV_TESTS="$tests" \
      -DCMAKE_BUILD_TYPE="$build_type" >/dev/null || return
  fi
  cmake --build "$build_dir" -j"$(nproc)" ${target:+--target "$target"}
}

if [ -z "$log" ]; then
  build
  exit
fi
mkdir -p "$(dirname "$log")"
if ! build >"$log" 2>&1; then
  echo "setup.sh: the build failed; the end of $log:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
