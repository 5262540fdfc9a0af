#!/usr/bin/env bash
# Bash completion of tarn-pak, pressing Tab at chosen places of real command lines: commands,
# options, files, and entries of a real archive; and a command that --help gains later.
# Usage: completion.sh TARN_PAK COMPLETION_SCRIPT
. "$(dirname "$0")/lib.sh"
tarn_pak=$1
export LC_ALL=C
# shellcheck source=/dev/null
. "$2"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p src/maps src/progs src/sound/misc out
for f in maps/start.bsp maps/test.bsp progs/player.mdl sound/misc/beep.wav default.cfg; do echo "$f" >"src/$f"; done
"$tarn_pak" create game.pak src
touch notes.txt

# What Tab offers for the words given, the last one being completed: one string, '|' between.
tab() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  # As in an interactive shell: no -e or -u.
  set +eu
  _tarn_pak
  set -eu
  local IFS='|'
  echo "${COMPREPLY[*]}"
}
expect() {
  local want=$1
  shift
  local got
  got=$(tab "$@" | tr '|' '\n' | sort | paste -sd'|')
  [ "$got" = "$want" ] || fail "tab after '$*': got '$got', want '$want'"
}

# Every command of --help, and the options that stand alone (those on lines of their own, which
# go with any command).
commands=$("$tarn_pak" --help | help_commands | sort | paste -sd'|')
globals=$("$tarn_pak" --help | sed -n 's/^  \(-[-a-z]*\(, -[-a-z]*\)*\).*/\1/p' | tr -d , | tr ' ' '\n' | sort | paste -sd'|')
for option in --help --version; do
  case "|$globals|" in *"|$option|"*) ;; *) fail "$option is not listed as an option of its own" ;; esac
done
expect "$(printf '%s\n' "$globals" "$commands" | tr '|' '\n' | sort | paste -sd'|')" "$tarn_pak" ""
expect "extract" "$tarn_pak" ex
# An archive is a file with an archive's name, or a folder to look into.
expect "game.pak|out|src" "$tarn_pak" extract ""
# Entries one directory level at a time, for every command that takes a path in the archive.
for command in extract cat rm rename info convert modeledit; do
  expect "default.cfg|maps/|progs/|sound/" "$tarn_pak" $command game.pak ""
done
expect "maps/start.bsp|maps/test.bsp" "$tarn_pak" extract game.pak maps/
expect "sound/misc/beep.wav" "$tarn_pak" cat game.pak sound/misc/
# Options, and their arguments: a folder on disk, a directory of the archive.
# (with the options of their own lines, but for --help and --version, which stand alone)
with_globals() {
  printf '%s\n' "$globals" "$@" | tr '|' '\n' | grep -vxE -e '--help|--version' | sort | paste -sd'|'
}
expect "$(with_globals -C)" "$tarn_pak" extract game.pak -
expect "out|src" "$tarn_pak" extract game.pak -C ""
# --json where a command has it, with the options of every command (--quiet, --verbose, ...).
expect "$(with_globals --json)" "$tarn_pak" list -
expect "$(with_globals --engine --json)" "$tarn_pak" which -
expect "sound/" "$tarn_pak" extract -C out game.pak so
expect "maps/|progs/|sound/" "$tarn_pak" add game.pak --to ""
expect "game.pak|notes.txt|out|src" "$tarn_pak" add game.pak --to maps ""
# Where the command takes nothing more, or a new name, nothing is offered.
expect "" "$tarn_pak" rename game.pak maps/test.bsp ""
expect "" "$tarn_pak" list game.pak maps/ ""
# list's PATH is one of the archive's.
expect "default.cfg|maps/|progs/|sound/" "$tarn_pak" list game.pak ""
expect "" "$tarn_pak" no-such-command ""
# An output file is any file.
expect "game.pak|notes.txt|out|src" "$tarn_pak" convert game.pak progs/player.mdl ""

# A command that appears in --help later completes with no change to the completion.
cat >later <<'HELP'
#!/bin/sh
cat <<'TEXT'
Usage: tarn-pak COMMAND ARGUMENTS

Commands:
  encode [--palette quake|quake2|FILE] [--strict] IN OUT   an image as a Quake picture
  which ARCHIVE... PATH                  the archive a file comes from
  -q, --quiet                            no messages
  --help                                 this text
TEXT
HELP
chmod +x later
expect "--help|--quiet|-q|encode|which" ./later ""
expect "--palette|--quiet|--strict|-q" ./later encode -
expect "game.pak|later|notes.txt|out|quake|quake2|src" ./later encode --palette ""
# --strict takes no argument: the word after it is IN, a file.
expect "game.pak|later|notes.txt|out|src" ./later encode --strict ""
expect "game.pak|out|src" ./later which ""
echo "Completion offers what each place of a command line takes."
