#!/usr/bin/env bash
# The files an install puts in place, the versions the installed programs print, and that
# they run with neither the source nor the build folder in reach.
# Usage: check-files.sh PREFIX APP_ID VERSION SOURCE_DIR BUILD_DIR
. "$(dirname "$0")/lib.sh"
prefix=$1 id=$2 version=$3 source_dir=$4 build_dir=$5
share=$prefix/share
hicolor=$share/icons/hicolor

for f in bin/tarn bin/tarn-pak libexec/tarn/tarn-import share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/mime/packages/$id.xml share/man/man1/tarn.1.gz share/man/man1/tarn-pak.1.gz \
         share/bash-completion/completions/tarn-pak share/icons/hicolor/scalable/apps/$id.svg; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/tarn" ] && [ -x "$prefix/bin/tarn-pak" ] && [ -x "$prefix/libexec/tarn/tarn-import" ] ||
  fail "the programs are not executable"

# The application icon, and an icon for every type the desktop entry opens, at every size.
icons=("apps/$id")
for type in $(desktop_value "$share/applications/$id.desktop" MimeType | tr ';' ' '); do
  icons+=("mimetypes/${type//\//-}")
done
[ ${#icons[@]} -ge 5 ] || fail "the desktop entry lists too few types: ${icons[*]}"
for icon in "${icons[@]}"; do
  [ -s "$hicolor/scalable/${icon%%/*}/${icon#*/}.svg" ] || fail "no scalable icon $icon"
  for size in 16 24 32 48 64 128 256; do
    png=$hicolor/${size}x$size/$icon.png
    [ -s "$png" ] || fail "no $size px icon $icon"
    [ "$(png_size "$png")" = "$size $size" ] || fail "$png is $(png_size "$png"), not $size x $size"
  done
done

[ "$("$prefix/bin/tarn-pak" --version)" = "tarn-pak $version" ] || fail "tarn-pak --version: $("$prefix/bin/tarn-pak" --version)"
[ "$(run_tarn "$prefix/bin/tarn" --version)" = "Tarn $version" ] || fail "tarn --version: $(run_tarn "$prefix/bin/tarn" --version)"

# The installed programs must need nothing from the source or build folder: run them with
# both hidden under empty folders (a private mount namespace), on a picture that needs the
# built-in palette and on a model (read by tarn-import, found where the install puts it), from a
# copy of bin/ and libexec/ kept outside both.
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "No private mount namespace here: the run without the source tree is skipped."
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$prefix/bin" "$prefix/libexec" "$work/"
mkdir -p "$work/in/gfx"
printf 'v 0 0 0\nv 0 2 0\nv 0 0 1\nf 1 2 3\n' >"$work/tri.obj"
# A 2 x 2 Quake picture: width and height (32-bit little-endian), then palette indices.
printf '\002\000\000\000\002\000\000\000\017\040\140\376' >"$work/in/gfx/dot.lmp"
unshare --user --map-root-user --mount sh -eu -c '
  mount -t tmpfs none "$1"
  case "$2/" in "$1"/*) ;; *) mount -t tmpfs none "$2" ;; esac
  cd "$3"
  bin/tarn-pak create pics.pak in
  bin/tarn-pak convert pics.pak gfx/dot.lmp dot.png
  bin/tarn-pak model tri.obj tri.mdl
  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 bin/tarn --help >/dev/null 2>&1
' sh "$source_dir" "$build_dir" "$work" || fail "an installed program failed without the source tree"
[ "$(png_size "$work/dot.png")" = "2 2" ] || fail "the picture converted without the source tree is wrong"
[ -s "$work/tri.mdl" ] || fail "no model was converted without the source tree"
echo "All installed files are in place."
