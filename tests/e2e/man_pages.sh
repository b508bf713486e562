#!/usr/bin/env bash
# The man pages render without a single groff warning: man_pages.sh PAGE...
if ! command -v groff > /dev/null; then
  echo "SKIP: groff is not installed (Debian package groff-base); man pages not checked"
  exit 77
fi
status=0
for page in "$@"; do
  warnings=$(groff -man -ww -z "$page" 2>&1) || status=1
  if [ -n "$warnings" ]; then
    echo "$page:"
    echo "$warnings"
    status=1
  fi
done
exit $status
