# Sourced by every script that starts Wine: the environment that each Wine process of this project gets.
# Without the winedbg override Wine's crash debugger can turn a crash into exit code 0. winemenubuilder
# would write menu entries into the Unix user's home, and start the desktop shell at a moment of its own.
export WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
export WINEARCH=win64

# The locale is chosen here, never taken from the caller. Wine's loader calls setlocale() in every process,
# which maps the glibc data files of the caller's locale (C.UTF-8's LC_CTYPE alone is 345 KiB) into a
# 32-bit process right below 0x7ffe0000, the page where Wine then maps its shared user data. Run natively,
# the kernel keeps them clear of that page; under QEMU's user-mode emulation (machines that cannot run
# 32-bit code themselves) they can take it, and no 32-bit process starts ("failed to map the shared user
# data: c0000018"). A locale without data files maps nothing: C, and the two below as long as their glibc
# locales are not generated (they are not on these machines; Wine takes the code page from the name).
# A run names the ANSI code page it needs in VESTIGIA_CODEPAGE: 950, 932, or 1252 (the default).
case ${VESTIGIA_CODEPAGE:-1252} in
  950) LC_ALL=zh_TW.UTF-8 ;;
  932) LC_ALL=ja_JP.UTF-8 ;;
  1252) LC_ALL=C ;;
  *)
    echo "wine-env.sh: no locale for code page $VESTIGIA_CODEPAGE (950, 932 or 1252)" >&2
    return 2
    ;;
esac
export LC_ALL
unset LANG LANGUAGE LC_CTYPE LC_NUMERIC LC_TIME LC_COLLATE LC_MONETARY LC_MESSAGES LC_PAPER LC_NAME LC_ADDRESS \
  LC_TELEPHONE LC_MEASUREMENT LC_IDENTIFICATION
