#!/usr/bin/env bash
# The usage texts, the manual pages and the README agree: every command and
# every option that `vantelo --help` and `vantelo-line --help` name is in the
# program's manual page (made from that text at build time) and in README.md,
# and every file the page's FILES section names is in README.md.
# Usage: check_usage_docs.sh README VANTELO VANTELO_LINE MAN_DIR
set -uo pipefail
readme=$1
man_dir=$4
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/vantelo-docs.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Words are bounded by anything but letters, digits and dashes.
has_word() { grep -qE -- "(^|[^A-Za-z0-9-])$2(\$|[^A-Za-z0-9-])" "$1"; }

check_program() {
    local program=$1 name=$2
    # --help needs no display.
    if ! env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help > "$work/usage"; then
        echo "FAIL: $name --help failed without a display"
        failures=$((failures + 1))
        return
    fi
    # The page as a reader sees it, unhyphenated and unjustified; groff's
    # warnings about the page count as failures.
    LC_ALL=C.UTF-8 MANWIDTH=200 man --no-hyphenation --no-justification \
        -l "$man_dir/$name.1.gz" 2> "$work/man.err" | col -bx > "$work/man"
    if [ -s "$work/man.err" ] || ! grep -q '^NAME' "$work/man"; then
        echo "FAIL: $name's manual page $man_dir/$name.1.gz does not render"
        cat "$work/man.err"
        failures=$((failures + 1))
        return
    fi

    # Commands: the first word of each two-space indented line of a section
    # other than Options and Exit status.
    local commands options word
    commands=$(awk '/^[^ ].*:$/ { skip = ($0 ~ /^(Options|Exit status):$/) }
                    !skip && /^  [a-z]/ { print $1 }' "$work/usage")
    options=$(grep -oE -- '(^|[][ |,(])--?[a-z][a-z0-9-]*' "$work/usage" |
        sed -E 's/^[][ |,(]//' | sort -u)
    if [ -z "$options" ]; then
        echo "FAIL: no option found in $name --help"
        failures=$((failures + 1))
    fi
    for word in $commands; do
        has_word "$work/man" "$word" || { echo "FAIL: $name's manual page lacks the command $word"; failures=$((failures + 1)); }
        grep -qF -- "$name $word" "$readme" || { echo "FAIL: README.md lacks \`$name $word\`"; failures=$((failures + 1)); }
    done
    for word in $options; do
        has_word "$work/man" "$word" || { echo "FAIL: $name's manual page lacks the option $word"; failures=$((failures + 1)); }
        has_word "$readme" "$word" || { echo "FAIL: README.md lacks $name's option $word"; failures=$((failures + 1)); }
    done
    # Files: the items of the page's FILES section; those in the user's
    # folders by their name, the others by their whole path.
    local files
    files=$(awk '/^[A-Z]/ { in_files = ($0 == "FILES") } in_files && /^       [^ ]/ { print $1 }' \
        "$work/man" | sed -E 's|^\$[^/]*/vantelo/||; s|,$||')
    [ -n "$files" ] || { echo "FAIL: $name's manual page names no file"; failures=$((failures + 1)); }
    for word in $files; do
        grep -qF -- "$word" "$readme" || { echo "FAIL: README.md lacks the file $word"; failures=$((failures + 1)); }
    done
    echo "$name: $(echo $commands | wc -w) commands, $(echo $options | wc -w) options," \
        "$(echo $files | wc -w) files checked"
}

check_program "$2" vantelo
check_program "$3" vantelo-line
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
