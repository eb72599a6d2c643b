#!/bin/sh
# wine-session.sh PROGRAM [ARGUMENTS]: runs one Windows program under Wine in $WINEPREFIX the way Windows
# runs it for a signed-in user: the desktop shell, explorer.exe, is running before the program starts, and
# the session (shell and services) ends with the program, or when this script is told to stop (TERM or
# INT). Wine starts its shell only when some process first needs the desktop, so a program that looks for
# the shell before it opens a window would otherwise race whatever starts it. Exits with the program's
# exit code.
set -eu
here=$(dirname "$0")
. "$here/wine-env.sh"
# A persistent server keeps the shell between the warm-up and the program, until the session ends here.
# The warm-up asks for the desktop, which starts the shell and waits for it; its output goes nowhere,
# since the services it starts inherit it and would keep the caller's pipe open.
wineserver -p
trap 'wineserver -k 2>/dev/null || true; wineserver -w' EXIT
trap 'exit 143' TERM INT
"$here/wine-run.sh" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null
"$here/wine-run.sh" "$@" &
code=0
wait $! || code=$?
exit "$code"
