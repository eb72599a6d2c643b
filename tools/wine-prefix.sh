#!/usr/bin/env bash
# wine-prefix.sh pristine DIR      makes a fresh Wine prefix in DIR, unless one is already there.
# wine-prefix.sh copy PRISTINE DIR makes DIR a fresh copy of a pristine prefix, replacing what was there.
#   The large, read-only tree of Wine's own files is shared through hard links; the registry files,
#   which Wine rewrites, are real copies, so a run never changes the pristine prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

case "${1:-}" in
  pristine)
    dir=$(realpath -m "$2")
    [[ -f $dir/system.reg && -f $dir/.complete ]] && exit 0
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    WINEPREFIX=$dir /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
    WINEPREFIX=$dir wineserver -w
    touch "$dir/.complete"
    ;;
  copy)
    src=$(realpath -m "$2") dir=$(realpath -m "$3")
    [[ -f $src/.complete ]] || { echo "no pristine prefix at $src" >&2; exit 1; }
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cp -al "$src" "$dir"
    for f in "$src"/*.reg; do cp --remove-destination "$f" "$dir/$(basename "$f")"; done
    ;;
  *)
    echo "usage: wine-prefix.sh pristine DIR | copy PRISTINE DIR" >&2
    exit 2
    ;;
esac
