#!/usr/bin/env bash
# upgradectl's manual page against the program: every option that
# `upgradectl --help` or a command's --help lists is in the page, every
# command has an entry in COMMANDS whose synopsis stays on its tag line (no
# piece of it spilling into the text below), and the page renders without
# a warning; FILES names the folders of trusted keys.
#   upgradectl_man_page_test.sh UPGRADECTL PAGE.1
set -euo pipefail
ctl=${1:?usage: upgradectl_man_page_test.sh UPGRADECTL PAGE.1}
page=${2:?usage: upgradectl_man_page_test.sh UPGRADECTL PAGE.1}
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# The option names of one --help: the first column of its option lines
# ("  -v,--verbose ...", "  --port UINT ..."), split at the commas.
options_of() {
  "$ctl" "$@" --help | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | grep -E '^-{1,2}[a-z]'
}
commands=$("$ctl" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')
[ -n "$commands" ] || fail "upgradectl --help lists no command"

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the page renders with warnings: $warnings"

# The page as a terminal of 80 columns shows it, without hyphenation so
# that no option is split at a line's end: headings at column 0, tags at
# the sections' indent of 7, the text under a tag at 14.
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 MANROFFOPT=-rHY=0 man -E UTF-8 -l "$page" 2>/dev/null | col -b | expand)
section() { sed -n "/^$1\$/,/^[A-Z]/p" <<<"$rendered"; }
# One command's entry in COMMANDS: its tag line up to the next tag.
entry() { section COMMANDS | awk -v c="$1" '/^       [^ ]/ { on = ($1 == c) } on'; }
names() { grep -qE -- "(^|[^a-z-])$1([^a-z-]|\$)" <<<"$2"; }

checked=0
global=$(section 'GLOBAL OPTIONS')
for option in $(options_of); do
  names "$option" "$global" || fail "GLOBAL OPTIONS lacks $option"
  checked=$((checked + 1))
done
for command in $commands; do
  text=$(entry "$command")
  [ -n "$text" ] || { fail "COMMANDS has no entry for $command"; continue; }
  # Every command's -h, --help is the global one.
  for option in $(options_of "$command" | grep -vxE -- '-h|--help'); do
    names "$option" "$text" || fail "the entry of $command lacks its option $option"
    checked=$((checked + 1))
  done
done

# A synopsis piece in the text under a tag: a line opening with a bracket,
# a bar or a placeholder that closes a bracket ("PKG] List ...").
spilled=$(section COMMANDS | grep -E '^ {14}(\[|\(|\||[A-Z]+\])' || true)
[ -z "$spilled" ] || fail "a synopsis spills into the text of COMMANDS:
$spilled"

# The folders the trusted keys are read from.
files=$(section FILES)
for folder in /etc/quorvane-upgrade/trusted-keys/ '$XDG_CONFIG_HOME/quorvane-upgrade/trusted-keys/'; do
  grep -qxF "       $folder" <<<"$files" || fail "FILES lacks $folder"
done

[ "$checked" -ge 20 ] || fail "only $checked options were found in the --help texts"
[ "$failed" -eq 0 ] && echo "the page names all $checked options and every command's synopsis sits on its tag line"
exit "$failed"
