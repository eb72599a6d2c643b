#!/usr/bin/env bash
# wine-server.sh start PRISTINE PREFIX [FIXTURE.reg...]
#                                       makes PREFIX a fresh copy of PRISTINE, adds the fixture keys to
#                                       its HKLM and keeps a Wine server running for it, so that the tests
#                                       do not each pay for a start.
# wine-server.sh stop PREFIX            ends that server.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

case "${1:-}" in
  start)
    # A server left over from an interrupted run would keep serving the old registry.
    if [[ -d $3 ]]; then
      WINEPREFIX=$3 wineserver -k >/dev/null 2>&1 || true
      WINEPREFIX=$3 wineserver -w >/dev/null 2>&1 || true
    fi
    "$here/wine-prefix.sh" pristine "$2"
    "$here/wine-prefix.sh" copy "$2" "$3"
    # Fixture files hold system.reg sections (keys relative to HKLM, with exact last-write times, which
    # the registry API cannot set). The server reads them only when it starts, so they go in first.
    for fixture in "${@:4}"; do
      printf '\n' >>"$3/system.reg"
      cat "$fixture" >>"$3/system.reg"
    done
    export WINEPREFIX=$3
    wineserver -p >/dev/null 2>&1 </dev/null
    # The first process starts Wine's background services; they must not inherit the test runner's
    # output pipes, or the runner waits for them forever.
    wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
    ;;
  stop)
    export WINEPREFIX=$2
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: wine-server.sh start PRISTINE PREFIX [FIXTURE.reg...] | stop PREFIX" >&2
    exit 2
    ;;
esac
