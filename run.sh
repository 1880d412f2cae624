#!/usr/bin/env bash
# Installs what is missing, builds, and runs build/quillet with the arguments.
#   ./run.sh /N=3 scans/page.tif
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh" >&2
exec "$here/build/quillet" "$@"
