#!/usr/bin/env bash
# The desktop entry and the AppStream metadata pass their validators, and say what Tarn needs.
# Usage: check-desktop.sh PREFIX APP_ID
. "$(dirname "$0")/lib.sh"
prefix=$1 id=$2
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml

[ "$(desktop_value "$desktop" Exec)" = "tarn %f" ] || fail "Exec is not 'tarn %f'"
[ "$(desktop_value "$desktop" Icon)" = "$id" ] || fail "Icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metadata does not launch $id.desktop"
grep -q '<image>https://[^<]*\.png</image>' "$metainfo" || fail "the metadata has no screenshot"

checked=0
if have desktop-file-validate; then
  # Hints and warnings count: a clean entry prints nothing.
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  checked=$((checked + 1))
fi
if have appstreamcli; then
  out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $out"
  checked=$((checked + 1))
fi
[ $checked -gt 0 ] || skip "neither desktop-file-validate nor appstreamcli is installed"
echo "The desktop entry and the metadata are valid."
