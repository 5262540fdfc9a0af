#!/usr/bin/env bash
# With the install's share folder on XDG_DATA_DIRS and its databases updated, the desktop
# tools recognise Tarn's files by name and content and pick Tarn to open them.
# Usage: check-mime.sh PREFIX APP_ID
. "$(dirname "$0")/lib.sh"
prefix=$1 id=$2
for tool in update-mime-database update-desktop-database xdg-mime gio; do
  have $tool || skip "$tool is not installed"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A private desktop: nothing of the user's or the machine's settings takes part. xdg-mime asks
# gio for a file's type in a GNOME session (elsewhere it asks file(1), which knows no
# shared-mime-info packages).
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config
export XDG_CONFIG_DIRS=$work/etc XDG_DATA_DIRS=$prefix/share:/usr/share
export XDG_CURRENT_DESKTOP=GNOME GIO_USE_VFS=local
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
update-mime-database "$prefix/share/mime" 2>/dev/null
update-desktop-database "$prefix/share/applications"

cd "$work"
printf 'PACK\014\000\000\000\000\000\000\000' >some.pak
printf 'WAD2\000\000\000\000\014\000\000\000' >textures.wad
printf 'WAD3\000\000\000\000\014\000\000\000' >halflife.wad
printf 'PWAD\000\000\000\000\014\000\000\000' >doom.wad
printf 'PK\003\004\024\000\000\000\000\000' >mod.pk3
cp mod.pk3 mod.pk2
cp mod.pk3 mod.pkz
cp textures.wad wad-without-extension
expect_type() {
  local got
  got=$(xdg-mime query filetype "$1")
  [ "$got" = "$2" ] || fail "$1 is $got, not $2"
}
expect_type some.pak application/x-pak
expect_type textures.wad application/x-quake-wad
expect_type halflife.wad application/x-half-life-wad
expect_type wad-without-extension application/x-quake-wad
expect_type mod.pk3 application/x-pk3
expect_type mod.pk2 application/x-pk3
expect_type mod.pkz application/x-pk3
# Doom's WADs share the extension and keep their own type.
expect_type doom.wad application/x-doom-wad
# The zip-based ones are zips to any program that opens zips.
grep -qx 'application/x-pk3 application/zip' "$prefix/share/mime/subclasses" || fail "a pk3 is not a zip"

for type in $(desktop_value "$prefix/share/applications/$id.desktop" MimeType | tr ';' ' '); do
  got=$(xdg-mime query default "$type")
  [ "$got" = "$id.desktop" ] || fail "the default for $type is '$got', not $id.desktop"
done
echo "The desktop finds Tarn's types and opens them with Tarn."
