#!/bin/sh
# Builds the Debian package from a configured build folder and inspects it: the contents list,
# the files a desktop needs, the desktop entry and AppStream metainfo through their validators,
# the dependencies found by dpkg-shlibdeps, the version the program reports, and lintian.
# Usage: tools/check-package.sh [build folder, default build-release]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
out="$build/package"
app=org.quillnet.Quillnet

rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1 || {
    cat "$build/cpack.log"
    exit 1
}
deb=$(ls "$out"/quillnet_*.deb)
echo "Package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\|Recommends\|Suggests\|Installed-Size\):/  \1:/p'
echo "Contents:"
dpkg-deb --contents "$deb" | awk '{ print "  " $1 " " $6 }'

status=0
fail() {
    echo "FAILED: $*"
    status=1
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb --extract "$deb" "$root"
for f in usr/bin/quillnet usr/bin/quillnet-launcher usr/share/quillnet/netview.sh \
    usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$app.svg usr/share/icons/hicolor/128x128/apps/$app.png \
    usr/share/man/man1/quillnet.1.gz usr/share/man/man1/quillnet-launcher.1.gz \
    usr/share/doc/quillnet/copyright usr/share/doc/quillnet/changelog.gz; do
    [ -f "$root/$f" ] || fail "/$f is missing"
done
for t in "$build"/Master/*; do
    [ -f "$root/usr/share/quillnet/Master/$(basename "$t")" ] || fail "Master/$(basename "$t") is missing"
done
case $(file -b "$root/usr/bin/quillnet") in
*", stripped"*) ;;
*) fail "quillnet is not a stripped program" ;;
esac

desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop entry"
appstreamcli validate --no-net --explain "$root/usr/share/metainfo/$app.metainfo.xml" || fail "metainfo"

depends=$(dpkg-deb --field "$deb" Depends)
for lib in libqt6widgets6 libqt6core6 libstdc++6 qt6-qpa-plugins; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib"
done

version=$(dpkg-deb --field "$deb" Version)
reported=$("$root/usr/bin/quillnet" --version)
[ "$reported" = "Quillnet $version" ] || fail "quillnet --version says '$reported', the package is $version"

echo "lintian:"
lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian reports errors"
[ $status -eq 0 ] && echo "Package checks passed"
exit $status
