#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A manual page names every option its program's --help lists, so the two
# cannot drift apart.
#   man_options.sh PROGRAM MANPAGE
set -euo pipefail
program=$1 page=$2
options=$("$program" --help | grep -oE '(^|[[:space:],])--?[a-zA-Z][a-zA-Z-]*' | sed 's/^[[:space:],]*//' | sort -u)
[ -n "$options" ] || { echo "FAIL: $program --help lists no options" >&2; exit 1; }
text=$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$page")
missing=()
for option in $options; do
  grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|\$)" <<<"$text" || missing+=("$option")
done
[ ${#missing[@]} -eq 0 ] || { echo "FAIL: $page lacks ${missing[*]}" >&2; exit 1; }
echo "$(wc -w <<<"$options") options of $(basename "$program") all in $(basename "$page")"
