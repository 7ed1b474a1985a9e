#!/bin/sh
# Starts or stops the one Wine server that the Windows build's tests share,
# so that each test does not pay Wine's start-up.
#   wine_server.sh start|stop WINESERVER WINE64
# WINEPREFIX and the rest of Wine's settings come from the environment.
# Started, the server and Wine's own services outlive this script: their
# standard streams go to /dev/null, since ctest waits for whatever holds its
# pipes.
set -eu
action=$1 wineserver=$2 wine64=$3
case "$action" in
  start)
    # Already running for this prefix is as good.
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    "$wine64" wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w
    ;;
esac
