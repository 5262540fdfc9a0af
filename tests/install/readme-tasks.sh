#!/usr/bin/env bash
# The commands of the README's "Common tasks" run exactly as written, on files made here: a mod
# folder, a PNG, a WAD and a base game.
# Usage: readme-tasks.sh TARN_PAK README
. "$(dirname "$0")/lib.sh"
tarn_pak=$1
readme=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p mymod/maps base/maps base/gfx pictures empty id1
printf 'BSP of the mod' >mymod/maps/start.bsp
printf 'BSP of the base game' >base/maps/start.bsp
# The registered game's gfx/pop.lmp: without it Quake runs the shareware game, which refuses mods.
head -c 256 /dev/zero >base/gfx/pop.lmp
"$tarn_pak" create id1/pak0.pak base
# A 64 x 64 picture, as a PNG by way of tarn-pak's own converter.
{ printf '\100\0\0\0\100\0\0\0'; head -c 4096 /dev/zero | tr '\0' '\7'; } >pictures/bricks.lmp
"$tarn_pak" create pictures.pak pictures
"$tarn_pak" convert pictures.pak bricks.lmp bricks.png
"$tarn_pak" create textures.wad empty

tasks=$(sed -n '/^### Common tasks/,/^##/p' "$readme" | grep '^tarn-pak ')
[ "$(wc -l <<<"$tasks")" -eq 3 ] || fail "the README's common tasks are not the three commands expected: $tasks"
while IFS= read -r task; do
  eval "\"\$tarn_pak\" ${task#tarn-pak }" >out.txt || fail "'$task' failed"
done <<<"$tasks"

[ "$("$tarn_pak" list mymod.pk3)" = "$(printf '14\tmaps/start.bsp')" ] || fail "mymod.pk3 does not hold the mod"
[ "$("$tarn_pak" list textures.wad | cut -f2)" = bricks.mip ] || fail "textures.wad does not hold the texture"
[ "$(cat out.txt)" = "$(printf 'mymod/maps/start.bsp\tmaps/start.bsp\nshadowed\tid1/pak0.pak')" ] ||
  fail "which answered: $(cat out.txt)"
echo "The README's common tasks work as written."
