#!/usr/bin/env bash
# The bash completion of harvix-cli, sourced into this shell and asked as
# bash asks it: the commands, options and browser words it offers are the
# ones the program's help names (and the program accepts every browser word
# offered); file and folder names come where a command or option takes one.
# Usage: completion_test.sh HARVIX_CLI SOURCE_DIR
set -uo pipefail
cli=$1 src=$2
# The completion asks the program it completes for (harvix-cli on the path).
PATH="$(cd "$(dirname "$cli")" && pwd):$PATH"
. "$src/tests/packaging/cli_words.sh"
. "$src/resources/completion/harvix-cli"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Completes LINE (the cursor at its end) and prints the offers sorted, one a line.
offers() {
  local line=$1
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line COMP_POINT=${#line}
  COMPREPLY=()
  _harvix_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u
}
lines() { printf '%s\n' "$@" | sed '/^$/d' | sort -u; }
expect() { # LINE EXPECTED...: the offers for LINE are exactly EXPECTED
  local line=$1 got want
  shift
  got=$(offers "$line")
  want=$(lines "$@")
  [ "$got" = "$want" ] || fail "'$line' offers [$(tr '\n' ' ' <<<"$got")], expected [$(tr '\n' ' ' <<<"$want")]"
}

complete -p harvix-cli | grep -q -- '-F _harvix_cli' || fail "sourcing does not register the completion"

# Commands and global options, from --help.
commands=$(cli_commands "$cli")
expect "harvix-cli " $commands help
expect "harvix-cli -" $(cli_options "$cli")
expect "harvix-cli help " $commands help

# Each command's options, from its own help.
for command in $commands; do
  [ "$command" = filter ] && continue
  expect "harvix-cli $command -" $(cli_options "$cli" "$command") --help
done

# Browser words: every one the help names is offered, and the program takes
# every one offered.
offered=$(offers "harvix-cli list ")
for browser in $(cli_browsers "$cli"); do
  grep -qx -- "$browser" <<<"$offered" || fail "browser '$browser' of the help is not offered"
done
for browser in $offered; do
  said=$("$cli" list "$browser" --cache /nonexistent/harvix-test 2>&1)
  if grep -q 'unknown browser' <<<"$said"; then
    fail "'$browser' is offered but harvix-cli does not know it"
  fi
done
[ "$(offers "harvix-cli comb --cache /tmp ")" = "$offered" ] || fail "no browser words after an option's value"
expect "harvix-cli comb mozilla "
expect "harvix-cli comb mozilla --since "
expect "harvix-cli watch --period "

# File and folder names where they go.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir caches
touch pictures.flt Music.FLT notes.txt
expect "harvix-cli comb mozilla --filter " caches pictures.flt Music.FLT
expect "harvix-cli list ie --cache " caches pictures.flt Music.FLT notes.txt
expect "harvix-cli comb ie --cache n" notes.txt
expect "harvix-cli filter " show --help
expect "harvix-cli filter show " caches pictures.flt Music.FLT
expect "harvix-cli filter show p" pictures.flt

[ "$failures" -eq 0 ] || {
  echo "$failures check(s) failed: update resources/completion/harvix-cli"
  exit 1
}
echo "bash completion: commands, options, browsers and file names as the help names them"
