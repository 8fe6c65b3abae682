#!/bin/sh
# Puts loopsim's demo bus, with the converter's echo, on the Linux side of a
# pseudo-terminal behind a COM port of the Wine prefix:
#   com_peer.sh start STATE_DIR COM_NAME LOOPSIM
#   com_peer.sh stop STATE_DIR COM_NAME
# STATE_DIR keeps loopsim's process id and the prefix's previous link, which
# stop puts back.
set -eu
action=$1 state=$2 com=$3
link="${WINEPREFIX:-$HOME/.wine}/dosdevices/$com"

case "$action" in
start)
  mkdir -p "$state"
  [ -f "$state/pid" ] && "$0" stop "$state" "$com"
  if [ -L "$link" ]; then readlink "$link" >"$state/previous-link"; else : >"$state/previous-link"; fi
  rm -f "$state/pty"
  "$4" pty --link "$state/pty" --echo </dev/null >"$state/loopsim.log" 2>&1 &
  echo $! >"$state/pid"
  tries=0
  until [ -e "$state/pty" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then echo "com_peer: no pseudo-terminal" >&2; exit 1; fi
    sleep 0.05
  done
  ln -sfn "$state/pty" "$link"
  ;;
stop)
  if [ -f "$state/pid" ]; then
    kill "$(cat "$state/pid")" 2>/dev/null || true
    rm -f "$state/pid"
  fi
  if [ -f "$state/previous-link" ]; then
    previous=$(cat "$state/previous-link")
    if [ -n "$previous" ]; then ln -sfn "$previous" "$link"; else rm -f "$link"; fi
    rm -f "$state/previous-link"
  fi
  ;;
esac
