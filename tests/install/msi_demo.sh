#!/usr/bin/env bash
# The demo bus on the first try after installing, as a new user meets it under
# Wine: a new prefix, the .msi installed, `loopsim.exe serve` started and
# `loopctl.exe scan` run beside it finds the demo bus; the Start menu's demo
# command opens the window, whose search reaches the same bus; uninstalling
# takes the simulator's classes away. Wine's server is never restarted here:
# a user's first run has no such step. A failed activation tells the user
# what to do, not only its code.
#   msi_demo.sh WINE BUILD-DIR
set -uo pipefail
wine=$1 build=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/wine-serve.sh"
scratch=$(mktemp -d)
export WINEPREFIX=$scratch/prefix WINEARCH=win64 WINEDEBUG=-all LC_ALL=C.UTF-8
wineserver=$(dirname "$wine")/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver)
xvfb=
cleanup() {
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() {
  echo "msi_demo: $*" >&2
  failures=$((failures + 1))
}
started=$SECONDS
folder='C:\Program Files\loopmon'
reg_value() { "$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ { sub(/.*REG_SZ[ \t]+/, ""); print }'; }
classes='HKLM\Software\Classes'
direct='{1C9E6E63-7226-4772-9AC9-C55F2CB8C05C}'

# The window needs a display; a private one, so that nothing else is drawn on.
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [[ -s $scratch/display ]] && break; sleep 0.1; done
  if [[ -s $scratch/display ]]; then
    DISPLAY=:$(head -1 "$scratch/display")
    export DISPLAY
  fi
fi

# The installer is made in the new prefix: its first Wine program, as the
# user's first is msiexec.
"$root/scripts/make-msi" "$build" 1.0.0 "$scratch/loopmon.msi" || fail "make-msi"
"$wine" msiexec /i "$scratch/loopmon.msi" /qn >/dev/null 2>&1 || fail "msiexec /i"
[[ $(reg_value "$classes\\Simul.Simulator\\CLSID") == "$direct" ]] || fail "Simul.Simulator not registered for the machine"
[[ $(reg_value "$classes\\CLSID\\$direct\\LocalServer32") == "\"$folder\\loopsim.exe\"" ]] ||
  fail "LocalServer32: $(reg_value "$classes\\CLSID\\$direct\\LocalServer32")"
[[ -n $(reg_value "$classes\\Simul.Simul2\\CLSID") ]] || fail "Simul.Simul2 not registered for the machine"
echo "msi_demo: installed at $((SECONDS - started)) s"

scan() { timeout 300 "$wine" "$folder\\loopctl.exe" scan --port COM1 --addr "$1" 2>"$scratch/scan.err" | tr -d '\r'; }

if wine_serve "$scratch/serve.log" "$folder\\loopsim.exe" serve; then
  grep -q "registered by the installation" "$scratch/serve.log" || fail "loopsim wrote classes: $(cat "$scratch/serve.log")"
  out=$(scan 1-20,127)
  [[ $out == *"Адрес:   5  Mivra-Q"*"Адрес:  12"*"Адрес:  20"* ]] ||
    fail "scan beside loopsim serve: $out $(tr -d '\r' <"$scratch/scan.err" | tail -1)"
  # The object's IDispatch cannot be passed between the programs (its
  # marshalling registration gone, as in a prefix whose set-up did not end):
  # loopctl says what to do.
  dispatch='HKLM\Software\Classes\Interface\{00020400-0000-0000-C000-000000000046}'
  "$wine" reg export "$dispatch" "$scratch/dispatch.reg" /y >/dev/null 2>&1
  "$wine" reg delete "$dispatch" /f >/dev/null 2>&1
  scan 5 >/dev/null
  said=$(tr -d '\r' <"$scratch/scan.err" | tail -1)
  [[ $said == *"end loopsim"*"start it again"*"(Cannot create Simul.Simulator: "* ]] || fail "a failed activation: $said"
  "$wine" reg import "$scratch/dispatch.reg" >/dev/null 2>&1
  wine_stop
else
  fail "loopsim.exe serve: $(cat "$scratch/serve.log")"
fi

# The Start menu's demo: loopsim serves and opens the window on its bus.
if [[ -n ${DISPLAY:-} ]] && command -v xdotool >/dev/null; then
  if wine_serve "$scratch/demo.log" "$folder\\loopsim.exe" demo --trace; then
    window=
    for _ in $(seq 300); do
      window=$(xdotool search --name "Состояние шлейфов" 2>/dev/null | head -1)
      [[ -n $window ]] && break
      sleep 0.2
    done
    if [[ -n $window ]]; then
      # The window is mapped small at the corner, then sized and centred:
      # its place is taken once it has settled.
      place=
      for _ in $(seq 100); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        [[ $WIDTH -gt 200 && $place == "$X,$Y" ]] && break
        place=$X,$Y
        sleep 0.5
      done
      # The search button, top left of the window (no window manager, no
      # frame); the search dialog's own button has the focus there.
      xdotool mousemove $((X + 14)) $((Y + 14)) click 1
      sleep 3
      xdotool key Return
      for _ in $(seq 600); do
        grep -q "Transceiving <- .*| addr 5 " "$scratch/demo.log" && break
        sleep 0.2
      done
      grep -q "Transceiving <- .*| addr 5 " "$scratch/demo.log" || fail "the demo's window found no device on the bus"
      [[ -n ${LOOPMON_SCREENSHOT:-} ]] && sleep 5 && xwd -root -silent >"$LOOPMON_SCREENSHOT"
      # The dialog closed, then the window: the demo ends with it.
      xdotool key Escape
      sleep 2
      xdotool key alt+F4
      for _ in $(seq 300); do grep -q "stopped" "$scratch/demo.log" && break; sleep 0.2; done
      grep -q "stopped" "$scratch/demo.log" || fail "the demo goes on after its window closed"
    else
      fail "the demo's window did not open"
    fi
    kill -0 "$server" 2>/dev/null && wine_stop
  else
    fail "loopsim.exe demo: $(cat "$scratch/demo.log")"
  fi
else
  echo "msi_demo: no Xvfb or xdotool: the demo's window is not tried"
fi

"$wine" msiexec /x "$scratch/loopmon.msi" /qn >/dev/null 2>&1 || fail "msiexec /x"
for key in Simul.Simulator Simul.Simul2 "CLSID\\$direct"; do
  ! "$wine" reg query "$classes\\$key" >/dev/null 2>&1 || fail "left after uninstalling: $key"
done

echo "msi_demo: took $((SECONDS - started)) s"
[[ $failures -eq 0 ]] && echo "the demo bus answers on the first try after installing"
[[ $failures -eq 0 ]]
