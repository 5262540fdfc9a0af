#!/usr/bin/env bash
# The Debian package: its name, its control fields (dependencies found from the binaries), the
# files it holds, lintian's verdict when lintian is installed, and programs that run from it.
# Usage: check-deb.sh BUILD_DIR   (after `cpack -G DEB` in BUILD_DIR)
. "$(dirname "$0")/lib.sh"
build_dir=$1
have dpkg-deb || skip "dpkg-deb is not installed"

debs=("$build_dir"/tarn_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one tarn_*.deb in $build_dir, found: ${debs[*]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "tarn_${version}_$arch.deb" ] || fail "the package is named $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = tarn ] || fail "the package is not called tarn"
case $(dpkg-deb -f "$deb" Section) in games | graphics) ;; *) fail "section $(dpkg-deb -f "$deb" Section)" ;; esac
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] || fail "no long description"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libsdl2 qt6-qpa-plugins libdeflate0 libpng16-16 libturbojpeg0 libstb0 libimagequant0 \
           libassimp5; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
! grep -qE 'libasan|libubsan' <<<"$depends" || fail "the package was built from a sanitizer build"

contents=$(dpkg-deb --contents "$deb")
# Everything desktop-facing is named after the desktop entry's id.
id=$(sed -n 's|.* \./usr/share/applications/\(.*\)\.desktop$|\1|p' <<<"$contents")
[ -n "$id" ] || fail "the package has no desktop entry"
for f in usr/bin/tarn usr/bin/tarn-pak usr/libexec/tarn/tarn-import usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/mime/packages/$id.xml usr/share/man/man1/tarn-pak.1.gz usr/share/man/man1/tarn.1.gz \
         usr/share/bash-completion/completions/tarn-pak usr/share/icons/hicolor/scalable/apps/$id.svg \
         usr/share/icons/hicolor/48x48/apps/$id.png usr/share/doc/tarn/copyright usr/share/doc/tarn/changelog.gz; do
  grep -q " \./$f\$" <<<"$contents" || fail "the package lacks /$f"
done

if have lintian; then
  verdict=$(lintian "$deb" 2>/dev/null | grep -E '^[EW]: ' || true)
  [ -z "$verdict" ] || fail "lintian: $verdict"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
[ "$("$work/usr/bin/tarn-pak" --version)" = "tarn-pak $version" ] || fail "the packaged tarn-pak does not run"
echo "$(basename "$deb") is a sound package."
