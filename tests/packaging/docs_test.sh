#!/usr/bin/env bash
# The man pages render without a warning and keep in step with the program:
# every command, option and browser word of `harvix-cli --help` and of each
# `harvix-cli help COMMAND` stands in harvix-cli(1), and every command and
# browser in the manual's harvix-cli section. The desktop entry and the
# AppStream metadata pass their validators.
# Usage: docs_test.sh HARVIX_CLI SOURCE_DIR MAN_DIR
set -euo pipefail
cli=$1 src=$2 mandir=$3
. "$src/tests/packaging/cli_words.sh"

for tool in man col desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (./scripts/deps installs it)"; exit 77; }
done
[ -f "$mandir/harvix-cli.1" ] || { echo "SKIP: $mandir/harvix-cli.1 is not built (scdoc missing?)"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1. Every page renders without a warning.
for page in "$mandir"/*.1; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings:"$'\n'"$warnings"
done

# 2. harvix-cli(1) names everything the help names. Rendered wide and in
# ASCII, so no line break or hyphenation splits an option.
page=$(MANWIDTH=1000 man -E ascii -l "$mandir/harvix-cli.1" 2>/dev/null | col -b)
has_word() { # TEXT WORD: WORD stands in TEXT, not as part of a longer word
  grep -qE -- "(^|[^A-Za-z0-9-])$2([^A-Za-z0-9-]|\$)" <<<"$1"
}
missing=()
for command in $(cli_commands "$cli"); do
  # The literal words of the command's usage line ("filter show").
  form=$("$cli" help "$command" | sed -nE 's/^Usage: harvix-cli ((([a-z][a-z0-9-]*) ?)+).*/\1/p' | head -n1)
  form=${form% }
  [ -n "$form" ] || form=$command
  grep -qF -- "harvix-cli $form" <<<"$page" || missing+=("command 'harvix-cli $form'")
  for option in $(cli_options "$cli" "$command"); do
    has_word "$page" "$option" || missing+=("option $option of '$command' (harvix-cli help $command)")
  done
done
for option in $(cli_options "$cli"); do
  has_word "$page" "$option" || missing+=("option $option (harvix-cli --help)")
done
browsers=$(cli_browsers "$cli")
[ -n "$browsers" ] || fail "no browser words found after 'BROWSER (' in the commands' help"
for browser in $browsers; do
  has_word "$page" "$browser" || missing+=("browser $browser")
done
if [ ${#missing[@]} -gt 0 ]; then
  fail "packaging/man/harvix-cli.1.scd does not name:"
  printf '  - %s\n' "${missing[@]}"
fi

# 3. The manual's harvix-cli section lists every command and browser.
section=$(sed -n '/<h2 id="cli">/,/<h2 id=/p' "$src/resources/help/index.html")
missing=()
for command in $(cli_commands "$cli"); do
  grep -qF "harvix-cli $command" <<<"$section" || missing+=("command $command")
done
for browser in $browsers; do
  grep -qF "<code>$browser</code>" <<<"$section" || missing+=("browser $browser")
done
if [ ${#missing[@]} -gt 0 ]; then
  fail "the harvix-cli section of resources/help/index.html does not list:"
  printf '  - %s\n' "${missing[@]}"
fi

# 4. Desktop entry and AppStream metadata.
desktop-file-validate "$src/resources/harvix.desktop" || fail "desktop-file-validate resources/harvix.desktop"
appstreamcli validate --no-net "$src/resources/io.github.harvix.Harvix.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate --no-net resources/io.github.harvix.Harvix.metainfo.xml:"$'\n'"$(
    appstreamcli validate --no-net "$src/resources/io.github.harvix.Harvix.metainfo.xml" 2>&1)"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed. The README's section \"Keeping the man pages in step\" says how to update them."
  exit 1
fi
echo "man pages, manual, desktop entry and AppStream metadata: all in step"
