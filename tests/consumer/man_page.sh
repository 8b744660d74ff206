#!/bin/sh
# The man page renders without a warning and describes every option that the
# CLI's --help lists.
#   man_page.sh MAN_PAGE CLI
set -eu
page=$1 cli=$2

warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff warnings:"; echo "$warnings"; exit 1; }

# One paragraph per line, so that no option is split or hyphenated.
text=$(groff -man -Tascii -rLL=2000n -P-cbou "$page")
options=$("$cli" --help | grep -oE '(^|[][ ,|])--?[A-Za-z][-A-Za-z]*' | sed 's/^[][ ,|]//' | sort -u)
[ -n "$options" ] || { echo "no options found in $cli --help"; exit 1; }
missing=0
for option in $options; do
  printf '%s\n' "$text" | grep -qE -e "(^|[^-A-Za-z])$option([^-A-Za-z]|\$)" ||
    { echo "not in $page: $option"; missing=1; }
done
[ "$missing" -eq 0 ]
echo "man page: renders cleanly and lists" $options
