# Sourced by every script that starts Wine: the environment that each Wine process of this project gets.
# Without the winedbg override Wine's crash debugger can turn a crash into exit code 0. winemenubuilder
# would write menu entries into the Unix user's home, and start the desktop shell at a moment of its own.
export WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
export WINEARCH=win64
