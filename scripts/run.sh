#!/usr/bin/env bash
# Installs what is missing, builds, and shows the program's main job: an
# unattended alarm delivery to a local FTP server (see scripts/demo.py).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
exec /usr/bin/python3 "$root/scripts/demo.py" "${BUILD_DIR:-$root/build}/OrvFtpUploader"
