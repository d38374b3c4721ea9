#!/usr/bin/env bash
# Set up, build and start the editor, optionally on a file.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/setup.sh"
exec "$here/../build/kelvane" "$@"
