#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need;
# asks apt only when something is missing. ProFTPD and Pure-FTPd, which
# cannot be installed beside vsftpd, are unpacked into build/servers/ (or
# $ORV_SERVERS_DIR) for the tests to start from there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  cmake g++ make ninja-build pkg-config
  # the layout check of the sources (scripts/format.sh)
  clang-format
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libssl-dev
  libgtest-dev libgmock-dev
  ca-certificates openssl
  python3 python3-pyftpdlib python3-openssl
  # an FTP server of another lineage for the window's command tests
  python3-twisted
  xvfb xauth locales
  # real clicks and keys on the virtual screen, for the window test that
  # drives the program as a user does
  xdotool
  vsftpd openssh-server
  # the command-line client with which a test checks the SFTP test server
  curl
  # a frozen clock for the test of runs that start in one moment
  faketime
  # the Debian package: its dependencies, and the check of its menu entry
  dpkg-dev desktop-file-utils
  # what the unpacked proftpd, its mod_tls and pure-ftpd load
  libacl1 libcap2 libcrypt1 libhiredis0.14 libidn2-0 libmemcached11 libmemcachedutil2 libncursesw6
  libpam0g libpcre2-8-0 libpcre2-posix3 libsodium23 libssl3 zlib1g
)

# Packages whose files are unpacked, not installed, and the programs that
# show they are there.
unpacked=(proftpd-core proftpd-mod-crypto pure-ftpd)
servers_dir="${ORV_SERVERS_DIR:-$root/build/servers}"
unpacked_programs=("$servers_dir/proftpd/usr/sbin/proftpd" "$servers_dir/proftpd/usr/lib/proftpd/mod_tls.so"
                   "$servers_dir/pure-ftpd/usr/sbin/pure-ftpd" "$servers_dir/pure-ftpd/usr/bin/pure-pw")

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_unpack=no
for f in "${unpacked_programs[@]}"; do [ -e "$f" ] || need_unpack=yes; done

updated=no
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  updated=yes
  # The tests start vsftpd and sshd themselves, on loopback; the packages
  # must not start system-wide servers on every address.
  policy=/usr/sbin/policy-rc.d
  own_policy=no
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=yes
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
  if [ "$own_policy" = yes ]; then $SUDO rm -f "$policy"; fi
  if [ "$status" -ne 0 ]; then
    # Which of them: apt names the first trouble only, or none at all.
    failed=()
    for p in "${missing[@]}"; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
      failed+=("$p")
    done
    echo "install-deps: apt-get install failed (status $status); not installed: ${failed[*]:-none of them}" >&2
    for p in "${failed[@]}"; do
      if ! apt-cache show "$p" >/dev/null 2>&1; then
        echo "install-deps:   $p: no such package in the configured sources" >&2
      elif ! why="$(apt-get install -s -qq --no-install-recommends "$p" 2>&1)"; then
        echo "install-deps:   $p: $(printf '%s\n' "$why" | grep -E '^E:' | head -3 | tr '\n' ' ')" >&2
      fi
    done
    exit "$status"
  fi
fi

if [ "$need_unpack" = yes ]; then
  echo "Unpacking into $servers_dir: ${unpacked[*]}"
  debs="$(mktemp -d)"
  trap 'rm -rf "$debs"' EXIT
  # apt's download sandbox user must be able to write the folder.
  chmod 777 "$debs"
  if ! (cd "$debs" && apt-get download -qq "${unpacked[@]}"); then
    [ "$updated" = yes ] || $SUDO apt-get update -qq
    for p in "${unpacked[@]}"; do
      if ! (cd "$debs" && apt-get download -qq "$p"); then
        echo "install-deps: apt-get download $p failed" >&2
        exit 1
      fi
    done
  fi
  rm -rf "$servers_dir/proftpd" "$servers_dir/pure-ftpd"
  mkdir -p "$servers_dir/proftpd" "$servers_dir/pure-ftpd"
  for deb in "$debs"/proftpd-*.deb; do dpkg-deb -x "$deb" "$servers_dir/proftpd"; done
  dpkg-deb -x "$debs"/pure-ftpd_*.deb "$servers_dir/pure-ftpd"
  for f in "${unpacked_programs[@]}"; do
    if ldd "$f" | grep -q "not found"; then
      echo "$f lacks libraries:" >&2
      ldd "$f" | grep "not found" >&2
      exit 1
    fi
  done
fi

# A test reads numbers under a German locale, which Debian does not generate by itself.
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
  ${SUDO-} localedef -i de_DE -f UTF-8 de_DE.UTF-8 || {
    echo "install-deps: localedef de_DE.UTF-8 failed (its sources come with the package locales)" >&2
    exit 1
  }
fi
