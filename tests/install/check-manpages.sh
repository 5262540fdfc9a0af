#!/usr/bin/env bash
# The manual pages render without a warning and cover what the programs' --help lists, with an
# example of every tarn-pak command.
# Usage: check-manpages.sh PREFIX
. "$(dirname "$0")/lib.sh"
prefix=$1
have man || skip "man is not installed"
export LC_ALL=C.UTF-8 MANWIDTH=80 MAN_KEEP_FORMATTING=0

for program in tarn tarn-pak; do
  page=$prefix/share/man/man1/$program.1.gz
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $program.1"
  [ -z "$warnings" ] || fail "$program.1 renders with warnings: $warnings"
  text=$(man -l "$page" 2>/dev/null | col -b)
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || fail "$program.1 has no $section section"
  done
  if [ $program = tarn ]; then help=$(run_tarn "$prefix/bin/tarn" --help); else help=$("$prefix/bin/tarn-pak" --help); fi
  for option in $(help_options <<<"$help"); do
    grep -qe "$option" <<<"$text" || fail "$program.1 does not mention $option"
  done
done

# Every command: described (from --help) and shown in an example.
examples=$(man -l "$prefix/share/man/man1/tarn-pak.1.gz" 2>/dev/null | col -b | sed -n '/^EXAMPLES$/,/^[A-Z]/p')
commands=$("$prefix/bin/tarn-pak" --help | help_commands)
[ -n "$commands" ] || fail "tarn-pak --help lists no commands"
for command in $commands; do
  grep -qE "^ +tarn-pak $command( |$)" <<<"$examples" || fail "tarn-pak.1 has no example of '$command'"
done
echo "The manual pages render cleanly and cover every command."
