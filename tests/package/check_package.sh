#!/usr/bin/env bash
# Makes the Debian package from a finished build into a temporary folder and
# checks what it installs: the files and their modes, the command's link,
# the menu entry, the icon sizes, the manual page, the version and the
# computed dependencies.
# Usage: check_package.sh <cpack> <build folder> <program version>
set -euo pipefail
cpack="$1"
build="$2"
version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: not one package: ${debs[*]}" >&2; exit 1; }
deb="${debs[0]}"

# The control fields.
[ "$(dpkg-deb -f "$deb" Package)" = orvftpuploader ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), program $version"
depends="$(dpkg-deb -f "$deb" Depends)"
depends_names="$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')"
for lib in libc6 libcurl4 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6; do
  grep -qxF "$lib" <<<"$depends_names" || fail "Depends lacks $lib: $depends"
done
# Nothing runs at install or removal time.
members="$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')"
[ "$members" = "control md5sums " ] || fail "control members: $members"

# Every file and link the package installs, with its mode and owner; folders aside.
expected="$(cat <<LIST
-rw-r--r-- root/root ./opt/OrvFtpUploader/OrvFtpUploader.cfg
-rw-r--r-- root/root ./usr/share/applications/OrvFtpUploader.desktop
-rw-r--r-- root/root ./usr/share/icons/hicolor/128x128/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/16x16/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/256x256/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/32x32/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/64x64/apps/OrvFtpUploader.png
-rw-r--r-- root/root ./usr/share/man/man1/OrvFtpUploader.1.gz
-rwxr-xr-x root/root ./opt/OrvFtpUploader/OrvFtpUploader
lrwxrwxrwx root/root ./usr/bin/OrvFtpUploader -> /opt/OrvFtpUploader/OrvFtpUploader
LIST
)"
expected="$(sort <<<"$expected")"
actual="$(dpkg-deb -c "$deb" | grep -v '^d' | awk '{ $3 = $4 = $5 = ""; print }' | sed 's/   */ /' | sort)"
if [ "$actual" != "$expected" ]; then
  fail "the package's files differ from the expected ones:"
  diff <(echo "$expected") <(echo "$actual") >&2 || true
fi
# Folders are open to all, whatever the umask of the build.
closed="$(dpkg-deb -c "$deb" | awk '/^d/ && $1 != "drwxr-xr-x" { print $1, $6 }')"
[ -z "$closed" ] || fail "folders not 0755: $closed"
[ "$(dpkg-deb -c "$deb" | awk '$6 == "./opt/OrvFtpUploader/OrvFtpUploader.cfg" { print $3 }')" = 0 ] ||
  fail "the settings template is not empty"

dpkg-deb -x "$deb" "$work/root"
root="$work/root"

desktop="$root/usr/share/applications/OrvFtpUploader.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the menu entry"
grep -qx 'Exec=OrvFtpUploader' "$desktop" || fail "the menu entry does not start the command"
grep -qx 'Icon=OrvFtpUploader' "$desktop" || fail "the menu entry does not name the icon"
grep -qx 'Categories=Network;FileTransfer;' "$desktop" || fail "the menu entry's categories"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/OrvFtpUploader.png"
  dims="$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }')"
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

man="$root/usr/share/man/man1/OrvFtpUploader.1.gz"
gzip -t "$man" || fail "the manual page is no gzip file"
page="$(zcat "$man")"
for part in '^\.TH OrvFtpUploader 1 .*OrvFtpUploader '"$version" '^\.SH NAME' '^\.SH SYNOPSIS' '^\.SH EXIT STATUS' \
            '^\.SH FILES' '^\.SH EXAMPLES' 'ftpurl=' 'ftpusr=' 'ftppwd=' 'ftppath=' 'msg=' 'alarmimg=' 'localpath=' \
            'XDG_CONFIG_HOME/OrvFtpUploader/OrvFtpUploader\.cfg' 'XDG_STATE_HOME/OrvFtpUploader/log/' \
            'XDG_STATE_HOME/OrvFtpUploader/outbox/'; do
  grep -q -- "$part" <<<"$page" || fail "the manual page lacks $part"
done

[ "$failures" -eq 0 ] || exit 1
echo "package $(basename "$deb") checked"
