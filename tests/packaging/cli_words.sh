# Sourced by the packaging tests: the words harvix-cli's own help names, so
# that the man page, the manual and the completion are checked against the
# program rather than against a copy of its lists.
#   cli_commands CLI        the command words of `CLI --help`, one a line
#   cli_options CLI [CMD]   the options (-x, --word) of `CLI --help`, or of
#                           `CLI help CMD`, one a line
#   cli_browsers CLI        the browser words the commands' usage texts list
#                           after BROWSER, as in "BROWSER (mozilla, ie or maxthon)"

cli_commands() {
    "$1" --help | awk '/^Commands:/ { on = 1; next } on && /^[^ ]/ { on = 0 }
                       on && /^  [a-z]/ { print $1 }'
}

cli_options() {
    local text
    if [ $# -ge 2 ]; then
        text=$("$1" help "$2")
    else
        text=$("$1" --help)
    fi
    printf '%s\n' "$text" | grep -oE '(^|[[ ,|])--?[A-Za-z][A-Za-z0-9-]*' |
        sed -E 's/^[[ ,|]//' | sort -u
}

cli_browsers() {
    local cli=$1 command
    for command in $(cli_commands "$cli"); do
        "$cli" help "$command"
    done | tr '\n' ' ' | grep -oE 'BROWSER +\([^)]*\)' |
        sed -E 's/^BROWSER +\(//; s/\)$//; s/,|\bor\b|\band\b/ /g' |
        tr ' ' '\n' | grep -E '^[a-z][a-z0-9-]*$' | sort -u
}
