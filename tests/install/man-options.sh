#!/usr/bin/env bash
# man-options.sh BIN_DIR MAN_DIR: each program's manual page names every option its --help names
# (the commands' own help included) and no other, and for ostrel-admin and ostrel every command;
# ostreld.conf(5) lists every option of ostreld that the file takes.
set -euo pipefail
bin=$1
man=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u || true; }
# The lines of a page's section, without its heading.
section() { sed -n "/^# $2\$/,/^# /p" "$1" | sed '1d;$d'; }
# The names a page's COMMANDS section defines: "*user add* _DOMAIN/USER_ ..." gives "user add".
page_commands() { section "$1" COMMANDS | sed -nE 's/^\*([a-z][a-z-]*( [a-z][a-z-]*)?)\*.*/\1/p' | sort -u; }

compare() {
  local what=$1 help=$2 page=$3 only
  only=$(comm -23 "$help" "$page" | tr '\n' ' ')
  [ -z "$only" ] || { echo "$what in --help but not in the page: $only"; status=1; }
  only=$(comm -13 "$help" "$page" | tr '\n' ' ')
  [ -z "$only" ] || { echo "$what in the page but not in --help: $only"; status=1; }
}

# ostreld: its options, and those the configuration file takes.
"$bin/ostreld" --help >"$work/ostreld.help"
options <"$work/ostreld.help" >"$work/help"
options <"$man/ostreld.8.scd" >"$work/page"
compare "ostreld(8): options" "$work/help" "$work/page"
sed -e 's/^--//' -e '/^\(config\|check-config\|help\|version\)$/d' "$work/help" >"$work/help.conf"
section "$man/ostreld.conf.5.scd" OPTIONS | grep -o '\*[a-z][a-z0-9-]*\*[,.]' | tr -d '*,.' | sort -u >"$work/page.conf"
compare "ostreld.conf(5): options" "$work/help.conf" "$work/page.conf"

# ostrel-admin: the commands of --help ("  user add DOMAIN/USER ..." or "  init [...]"), the options
# of --help and of every command's help.
"$bin/ostrel-admin" --help >"$work/admin.help"
sed -n '/^Commands:/,/^$/p' "$work/admin.help" | sed -nE 's/^  ([a-z][a-z-]*)( ([a-z][a-z-]*))?( .*)?$/\1 \3/p' \
  | sed 's/ *$//' | sort -u >"$work/admin.commands"
[ -s "$work/admin.commands" ] || { echo "ostrel-admin --help lists no commands"; exit 1; }
while read -r command; do
  # shellcheck disable=SC2086
  "$bin/ostrel-admin" $command --help >>"$work/admin.help" || { echo "ostrel-admin $command --help failed"; status=1; }
done <"$work/admin.commands"
options <"$work/admin.help" >"$work/help"
options <"$man/ostrel-admin.8.scd" >"$work/page"
compare "ostrel-admin(8): options" "$work/help" "$work/page"
page_commands "$man/ostrel-admin.8.scd" >"$work/page"
compare "ostrel-admin(8): commands" "$work/admin.commands" "$work/page"

# ostrel: the commands of --help ("  ostrel login ..."), the options of --help and of each command's.
"$bin/ostrel" --help >"$work/ostrel.help"
sed -nE 's/^  ostrel ([a-z][a-z-]*).*/\1/p' "$work/ostrel.help" | sort -u >"$work/ostrel.commands"
[ -s "$work/ostrel.commands" ] || { echo "ostrel --help lists no commands"; exit 1; }
while read -r command; do
  "$bin/ostrel" "$command" --help >>"$work/ostrel.help" || { echo "ostrel $command --help failed"; status=1; }
done <"$work/ostrel.commands"
options <"$work/ostrel.help" >"$work/help"
options <"$man/ostrel.1.scd" >"$work/page"
compare "ostrel(1): options" "$work/help" "$work/page"
page_commands "$man/ostrel.1.scd" >"$work/page"
compare "ostrel(1): commands" "$work/ostrel.commands" "$work/page"

exit $status
