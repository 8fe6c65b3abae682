#!/bin/bash
# The Win32 window-stall figure under Wine: loopsim's demo bus behind COM3 of
# the Wine prefix, silenced (SIGSTOP) when the benchmark asks for it.
#   window_stall_win32.sh WINE BENCH_EXE HOST_LOOPSIM
# Uses $WINEPREFIX (or ~/.wine); run with the cross build's bench folder, e.g.
#   bench/gui/window_stall_win32.sh /usr/lib/wine/wine64 \
#     build/win/bench/window_stall_bench_win32.exe build/win-host/bin/loopsim
set -euo pipefail
wine=$1 bench=$2 loopsim=$3
peer=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tests/windows" && pwd)/com_peer.sh
state=$(mktemp -d "${TMPDIR:-/tmp}/loopmon-stall.XXXXXX")
cleanup() {
  [[ -f "$state/pid" ]] && kill -CONT "$(cat "$state/pid")" 2>/dev/null || true
  "$peer" stop "$state" com3
  rm -rf "$state"
}
trap cleanup EXIT

"$peer" start "$state" com3 "$loopsim"
silence="$state/silence"
"$wine" "$bench" "$("$wine" winepath -w "$silence" 2>/dev/null)" &
bench_pid=$!
while kill -0 "$bench_pid" 2>/dev/null; do
  if [[ -f "$silence" ]]; then
    kill -STOP "$(cat "$state/pid")"
    break
  fi
  sleep 0.02
done
wait "$bench_pid"
