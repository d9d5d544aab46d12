#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need;
# asks apt only when something is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  ca-certificates openssl
  python3 python3-pyftpdlib python3-openssl
  xvfb xauth locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A test reads numbers under a German locale, which Debian does not generate by itself.
locale -a 2>/dev/null | grep -qx 'de_DE.utf8' || ${SUDO-} localedef -i de_DE -f UTF-8 de_DE.UTF-8
