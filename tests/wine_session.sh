#!/bin/sh
# The Wine prefix named by WINEPREFIX, and one wineserver kept for as long
# as a test run uses it.
#   tests/wine_session.sh start LOADER   makes or updates the prefix, starts the server
#   tests/wine_session.sh stop           ends the server and whatever still runs in the prefix
# Left to itself, wineserver quits a few seconds after the prefix's last
# program ends, and a program started in that moment dies before it runs,
# with "wine client error:0: recvmsg: Connection reset by peer". A server
# started with -p stays until it is told to stop.
set -eu
case ${1:-} in
  start)
    # A server kept by an interrupted run holds the old prefix's state.
    wineserver -k 2>/dev/null || true
    wineserver -w
    mkdir -p "${WINEPREFIX}"
    # The server and the prefix's services outlive this script and hold on
    # to whatever output they were handed, so they get none: a test whose
    # program started them would otherwise never see its pipes close.
    wineserver -p </dev/null >/dev/null 2>&1
    log=${WINEPREFIX}/wineboot.log
    status=0
    "$2" wineboot --init </dev/null >"${log}" 2>&1 || status=$?
    cat "${log}"
    exit "${status}"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start LOADER | stop" >&2
    exit 2
    ;;
esac
