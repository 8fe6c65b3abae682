#!/bin/sh
# Puts a pseudo-terminal behind a COM port of the Wine prefix, with devices
# on its Linux side, for the tests that need a line:
#   com_peer.sh start STATE_DIR COM_NAME perl ADDRESS      device_peer.pl, one device
#   com_peer.sh start STATE_DIR COM_NAME loopsim LOOPSIM   loopsim's demo bus, with echo
#   com_peer.sh stop STATE_DIR COM_NAME
# STATE_DIR receives the peer's process id, its log and the prefix's previous
# link (or its absence), which stop puts back.
set -eu
action=$1 state=$2 com=$3
prefix=${WINEPREFIX:-$HOME/.wine}
link="$prefix/dosdevices/$com"
here=$(cd "$(dirname "$0")" && pwd)

case "$action" in
start)
  mkdir -p "$state"
  [ -f "$state/pid" ] && "$0" stop "$state" "$com"
  if [ -L "$link" ]; then readlink "$link" >"$state/previous-link"; else : >"$state/previous-link"; fi
  rm -f "$state/pty" "$state/peer.log"
  case "$4" in
  perl)
    socat -lf "$state/socat.log" PTY,link="$state/pty",rawer \
      EXEC:"perl $here/device_peer.pl $5 $state/peer.log" </dev/null >/dev/null 2>&1 &
    ;;
  loopsim)
    "$5" pty --link "$state/pty" --echo </dev/null >"$state/loopsim.log" 2>&1 &
    ;;
  esac
  echo $! >"$state/pid"
  tries=0
  until [ -e "$state/pty" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then echo "com_peer: no pseudo-terminal" >&2; exit 1; fi
    sleep 0.05
  done
  if [ "$4" = perl ]; then
    # A second holder of the slave side: without one the pseudo-terminal hangs
    # up, and socat ends, whenever the Windows program closes the port.
    exec 3<>"$state/pty"
    sleep 3650d <&3 >/dev/null 2>&1 &
    echo $! >"$state/holder-pid"
  fi
  ln -sfn "$state/pty" "$link"
  ;;
stop)
  for pidfile in "$state/holder-pid" "$state/pid"; do
    if [ -f "$pidfile" ]; then
      kill "$(cat "$pidfile")" 2>/dev/null || true
      rm -f "$pidfile"
    fi
  done
  if [ -f "$state/previous-link" ]; then
    previous=$(cat "$state/previous-link")
    if [ -n "$previous" ]; then ln -sfn "$previous" "$link"; else rm -f "$link"; fi
    rm -f "$state/previous-link"
  fi
  ;;
esac
