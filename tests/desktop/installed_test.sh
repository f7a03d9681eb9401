#!/bin/sh
# The installed program, as the Debian package lays it out: the build is
# installed under a scratch root with the prefix /usr, every file the package
# must hold is there, and travosk-start gives the window its own working
# folder with copies of the supplied files while the installation is only
# read.
#   installed_test.sh BUILD-DIR
set -eu
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/travosk-installed.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
fail() { echo "installed_test: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
id=example.travosk.Travosk
for f in bin/travosk bin/travosk-start bin/travosk-cli bin/travosk-adapter \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/mime/packages/travosk.xml \
    share/man/man1/travosk.1.gz share/man/man1/travosk-start.1.gz \
    share/man/man1/travosk-cli.1.gz share/man/man1/travosk-adapter.1.gz \
    share/travosk/PS2ICO.bmp share/travosk/pcf4M.bin share/travosk/pcf32M.bin; do
  [ -e "$usr/$f" ] || fail "$f is not installed"
done
# /usr/lib/udev/rules.d when configured for /usr (the package), else /etc.
[ -n "$(find "$root" -name 70-travosk.rules)" ] || fail "the udev rule is not installed"
for size in 16 22 24 32 48 64 128 256; do
  icon=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
  [ -e "$icon" ] || fail "no $size pixel icon"
  # A PNG's width and height: big-endian words at 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x$size" ] || fail "the $size pixel icon is $dims"
done
gzip -t "$usr"/share/man/man1/*.gz

snapshot() { (cd "$root" && find . -type f -exec cksum {} + | sort -k3); }
snapshot > "$scratch/before"
home=$scratch/home
work=$home/travosk/window
mkdir -p "$scratch/caller"
version=$(cd "$scratch/caller" && XDG_DATA_HOME=$home "$usr/bin/travosk-start" --version)
[ "$version" = "$("$usr/bin/travosk" --version)" ] && [ "${version%% *}" = travosk ] ||
  fail "travosk-start --version said: $version"
for f in PS2ICO.bmp pcf4M.bin pcf8M.bin pcf16M.bin pcf32M.bin; do
  cmp -s "$usr/share/travosk/$f" "$work/$f" || fail "$f was not copied into the working folder"
done
# A newer installation's supplied file replaces the copy; the user's own
# files in the working folder stay.
mkdir -p "$work/savers"
echo "kept" > "$work/savers/mine.psu"
snapshot > "$scratch/after"
cmp -s "$scratch/before" "$scratch/after" || fail "travosk-start wrote into the installation"
printf 'changed' > "$usr/share/travosk/pcf4M.bin"
XDG_DATA_HOME=$home "$usr/bin/travosk-start" --version >/dev/null
cmp -s "$usr/share/travosk/pcf4M.bin" "$work/pcf4M.bin" || fail "a changed supplied file was not copied again"
[ "$(cat "$work/savers/mine.psu")" = kept ] || fail "the user's file changed"
echo "installed_test: ok"
