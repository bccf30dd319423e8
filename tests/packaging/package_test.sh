#!/usr/bin/env bash
# Builds the Debian package from this build, checks that it declares its dependencies, unpacks it
# into a scratch root and runs a tool from there.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=none -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/tresvik_*.deb)
info=$(dpkg-deb -I "$deb")
for needed in "Package: tresvik" "Depends:" "libleveldb" "libwx" "libaravis" "rclone"; do
  grep -q "$needed" <<<"$info" || { echo "the package's control lacks: $needed"; exit 1; }
done
dpkg-deb -x "$deb" "$scratch/root"
for file in usr/bin/tresvik usr/share/applications/tresvik.desktop usr/share/tresvik/tresvik-camsim.xml \
  usr/share/man/man1/tresvik-db.1 usr/share/man/man1/tresvik.1; do
  [ -e "$scratch/root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
help=$("$scratch/root/usr/bin/tresvik-db" --help)
grep -qi "usage: tresvik-db" <<<"$help" || { echo "tresvik-db --help from the package: $help"; exit 1; }
echo "package ok: $(basename "$deb")"
