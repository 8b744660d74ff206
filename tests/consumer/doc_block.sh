#!/bin/sh
# doc_block.sh FILE NAME
# Prints the fenced code block that follows the line "<!-- test: NAME -->" in
# the markdown FILE, so that tests and CI run the snippets and commands of the
# documentation exactly as they are written there. Fails when there is none.
set -eu
awk -v mark="<!-- test: $2 -->" '
  $0 == mark { marked = 1; next }
  marked && !inside && /^```/ { inside = 1; next }
  inside && /^```/ { found = 1; exit }
  inside { print }
  END { if (!found) exit 1 }
' "$1" || { echo "no block \"$2\" in $1" >&2; exit 1; }
