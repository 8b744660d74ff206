#!/bin/sh
# `make deb`: builds the Debian packages with dpkg-buildpackage -us -uc -b in
# a copy of the source tree under WORK and copies them to OUT. The maintainer
# is "$DEBFULLNAME <$DEBEMAIL>" (the variables Debian's own tools read): it is
# written into the copy's debian/control and into a debian/changelog entry
# for the version in CMakeLists.txt, dated by the last commit. The debug
# symbol packages (-dbgsym) and the .changes file stay in WORK.
#   sh debian/build-packages.sh WORK OUT    (from the top of the source tree)
set -eu
work=$1 out=$2
if [ -z "${DEBFULLNAME:-}" ] || [ -z "${DEBEMAIL:-}" ]; then
  echo "make deb: set DEBFULLNAME and DEBEMAIL to the maintainer's name and e-mail address," >&2
  echo "for example: make deb DEBFULLNAME='Jane Doe' DEBEMAIL=jane.doe@example.org" >&2
  exit 2
fi
for tool in dpkg-buildpackage dh dh_python3 cmake; do
  command -v "$tool" >/dev/null || {
    echo "make deb: $tool is missing: apt-get install dpkg-dev debhelper dh-python cmake" >&2; exit 2; }
done
version=$(sed -n 's/^project(stlrefine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "make deb: no project version in CMakeLists.txt" >&2; exit 2; }

src=$work/stlrefine-$version
rm -rf "$work" && mkdir -p "$src"
tar --exclude=./.git --exclude='./build*' --exclude="./$out" --exclude='*.refined.stl' \
    --exclude=__pycache__ -cf - . | tar -xf - -C "$src"

maintainer="$DEBFULLNAME <$DEBEMAIL>"
seconds=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
awk -v maintainer="$maintainer" '/^Maintainer:/ { $0 = "Maintainer: " maintainer } { print }' \
  debian/control >"$src/debian/control"
cat >"$src/debian/changelog" <<CHANGES
stlrefine ($version) unstable; urgency=medium

  * Release $version; its changes are listed in CHANGELOG.md (package stlrefine).

 -- $maintainer  $(LC_ALL=C date -R -u -d "@$seconds")
CHANGES

(cd "$src" && dpkg-buildpackage -us -uc -b)
mkdir -p "$out"
rm -f "$out"/*.deb
for deb in "$work"/*.deb; do
  case $deb in *-dbgsym_*) ;; *) cp "$deb" "$out/" ;; esac
done
ls -l "$out"
