#!/usr/bin/env bash
# wine-prefix.sh pristine DIR      makes a fresh Wine prefix in DIR, with its 32-bit side, unless one is
#                                  already there.
# wine-prefix.sh copy PRISTINE DIR [FIXTURE]
#                                  makes DIR a fresh copy of a pristine prefix, replacing what was there,
#                                  with the system.reg sections of FIXTURE added to its HKLM.
#   The large, read-only tree of Wine's own files is shared through hard links; the registry files,
#   which Wine rewrites, are real copies, so a run never changes the pristine prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

case "${1:-}" in
  pristine)
    dir=$(realpath -m "$2")
    wow64=$dir/drive_c/windows/syswow64/kernel32.dll
    [[ -f $dir/.complete && -f $wow64 ]] && exit 0
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    # Wine's errors go to a log, which is shown only when the prefix cannot be made.
    log=$dir.log
    WINEPREFIX=$dir WINEDEBUG=err+all /usr/lib/wine/wine64 wineboot -i >"$log" 2>&1 </dev/null || true
    WINEPREFIX=$dir wineserver -w
    if [[ ! -f $wow64 ]]; then
      echo "wine-prefix.sh: $dir has no 32-bit side: Wine could not start a 32-bit process there." >&2
      if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        echo "wine-prefix.sh: the package wine32:i386 is not installed (tools/setup.sh installs it)." >&2
      fi
      echo "wine-prefix.sh: what Wine said (all of it in $log):" >&2
      grep -E 'err:|failed|rror' "$log" | grep -v -E 'winediag:nodrv|systray' | head -20 >&2 || true
      exit 1
    fi
    rm -f "$log"
    touch "$dir/.complete"
    ;;
  copy)
    src=$(realpath -m "$2") dir=$(realpath -m "$3")
    [[ -f $src/.complete ]] || { echo "no pristine prefix at $src" >&2; exit 1; }
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cp -al "$src" "$dir"
    for f in "$src"/*.reg; do cp --remove-destination "$f" "$dir/$(basename "$f")"; done
    [[ -z ${4:-} ]] || { echo && cat "$4"; } >>"$dir/system.reg"
    ;;
  *)
    echo "usage: wine-prefix.sh pristine DIR | copy PRISTINE DIR [FIXTURE]" >&2
    exit 2
    ;;
esac
