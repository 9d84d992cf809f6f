#!/usr/bin/env bash
# The man pages say what --help says: every word of each program's --help stands in its man
# page, in the same order. A man page made before the last change of --help fails here.
#   ManPagesMatchHelp.sh PROGRAM MAN_PAGE_GZ [PROGRAM MAN_PAGE_GZ ...]
set -euo pipefail
status=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  # help2man turns the "usage:" line into the SYNOPSIS heading: that word is its own.
  help_words=$(QT_QPA_PLATFORM=offscreen "$program" --help | tr -s ' \t' '\n\n' | grep -v -i -x -e '' -e 'usage:')
  # The page as text: roff escapes and font changes out, macro lines reduced to their words.
  page_words=$(gzip -dc "$page" | sed -e 's/\\f[BIRP]//g' -e 's/\\[,\/]//g' -e 's/\\-/-/g' -e 's/\\(co/(c)/g' \
                 -e 's/\\&//g' -e 's/^\.[A-Z][A-Z]* *//' -e 's/^"\(.*\)"$/\1/' -e 's/\\e/\\/g' |
               tr -s ' \t' '\n\n' | grep -v '^$')
  missing=$(awk 'NR == FNR { page[++n] = $0; next }
                 { while (i < n && page[++i] != $0) {} if (i >= n && page[n] != $0) { print; exit } }' \
              <(echo "$page_words") <(echo "$help_words"))
  if [ -n "$missing" ]; then
    echo "$page does not follow $program --help from the word: $missing"
    status=1
  else
    echo "$page follows $program --help ($(echo "$help_words" | wc -l) words)"
  fi
done
exit $status
