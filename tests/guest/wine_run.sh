#!/usr/bin/env bash
# Runs one command of the Wine tests where wine_machine.sh decided: here, in the
# emulated machine (with the host folders in CORVANTA_GUEST_SHARES at their own paths,
# and the prefix baked into its image), or not at all.
#   wine_run.sh DECISION -- COMMAND [ARG...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
decision=$1
shift
[ "${1:-}" = -- ] && shift
if [ ! -f "$decision" ]; then
  echo "wine_run: no decision in $decision: the wine_machine test has not run" >&2
  exit 1
fi
read -r where rest < "$decision"
case $where in
  native) exec "$@" ;;
  # Emulated, a window costs some twenty times what it costs here: the test host's
  # thousand init and quit cycles become two hundred, which still show a leak.
  emulated) WINEPREFIX=/var/lib/corvanta/wine CORVANTA_HOST_CYCLES=200 exec "$here/guest_run.sh" "$rest" -- "$@" ;;
  skip) echo "corvanta-wine: skipped: $rest"; exit 0 ;;
  *) echo "wine_run: unreadable decision in $decision" >&2; exit 1 ;;
esac
