#!/bin/sh
# Runs a Windows program under Wine from a copy in a local temporary folder:
#   wine_local.sh PROGRAM [ARG...]
# In the emulated machine the build tree is a 9p share, and Wine there loads a program
# whose code exceeds 256 KiB with that code cut short (seen as a jump into zeros past
# the first 256 KiB); a copy on the machine's own disk loads whole. Natively it costs
# one copy.
set -eu
program=$1
shift
copy=$(mktemp -d "${TMPDIR:-/tmp}/corvanta-wine.XXXXXX")
trap 'rm -rf "$copy"' EXIT
cp "$program" "$copy/"
status=0
wine "$copy/$(basename "$program")" "$@" || status=$?
exit $status
