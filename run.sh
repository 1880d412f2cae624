#!/usr/bin/env bash
# Installs what is missing, builds what running needs (the program, the
# Source Manager, the virtual scanner, the codecs: no tests) into build-run/,
# and runs build-run/quillet with the arguments. build/ stays ./test.sh's
# sanitizer build, so neither command rebuilds the other's. The build's
# output goes to build-run/build.log; when it fails, its end is shown on
# standard error and the exit status is not 0.
#   ./run.sh /N=3 scans/page.tif
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh" --build-dir "$here/build-run" --no-tests --target runtime \
  --log "$here/build-run/build.log" >&2
exec "$here/build-run/quillet" "$@"
