# Sourced by every script that starts Wine: the environment that each Wine process of this project gets.
# Without the winedbg override Wine's crash debugger can turn a crash into exit code 0.
export WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
