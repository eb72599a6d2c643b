#!/bin/sh
# wine-session.sh PROGRAM [ARGUMENTS]: runs one Windows program under Wine in $WINEPREFIX the way Windows
# runs it for a signed-in user: the desktop shell, explorer.exe, is running before the program starts, and
# the session (shell and services) ends with the program, or when this script is told to stop (TERM or
# INT). Wine starts its shell only when some process first needs the desktop, so a program that looks for
# the shell before it opens a window would otherwise race whatever starts it. Exits with the program's
# exit code; says on stderr when the session could not be set up as it should.
set -u
here=$(dirname "$0")
. "$here/wine-env.sh" || exit 2
# A persistent server keeps the shell between the warm-up and the program, until the session ends here.
# The warm-up asks for the desktop, which starts the shell and waits for it; its output goes nowhere,
# since the services it starts inherit it and would keep the caller's pipe open.
wineserver -p || echo "wine-session.sh: wineserver -p failed" >&2
trap 'wineserver -k 2>/dev/null; wineserver -w' EXIT
trap 'exit 143' TERM INT
"$here/wine-run.sh" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null ||
  echo "wine-session.sh: the warm-up that starts the shell failed with $?" >&2
"$here/wine-run.sh" "$@" &
wait $!
