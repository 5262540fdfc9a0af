# Shared by the install checks (sourced): how a check fails or is skipped, and small readers.
set -euo pipefail

# ctest counts exit status 77 as skipped (SKIP_RETURN_CODE in CMakeLists.txt).
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
have() { command -v "$1" >/dev/null 2>&1; }

# Width and height of a PNG, from its IHDR chunk: "W H".
png_size() {
  local b
  read -ra b <<<"$(od -An -tu1 -j16 -N8 "$1")"
  echo "$(( (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3] )) $(( (b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7] ))"
}

# The value of a key in a desktop entry.
desktop_value() { sed -n "s/^$2=//p" "$1" | head -n 1; }

# The commands and options a program's --help lists ("  list ARCHIVE  ...", "  --help  ...").
help_commands() { sed -n 's/^  \([a-z][-a-z0-9]*\).*/\1/p'; }
help_options() { grep -oE '(^|[ ,[])--?[a-zA-Z][-a-zA-Z]*' | sed 's/^[ ,[]//' | sort -u; }

# A window program that prints and exits needs no display.
run_tarn() { QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$@" 2>/dev/null; }
