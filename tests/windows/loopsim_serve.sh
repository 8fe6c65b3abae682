#!/usr/bin/env bash
# loopsim.exe serve under Wine, as a user meets it: loopctl.exe started
# meanwhile scans and reads its bus, with the same lines as loopsim and loopctl
# give on Linux for the same scenario; a second server refuses; Ctrl-C ends
# simulator mode and takes away what it registered for the user. A
# registration by the installation is used and kept; another installation's is
# named and left alone. (Wine's class root does not show the user's classes,
# so here loopsim registers for the machine while it serves.)
#   loopsim_serve.sh WINE LOOPSIM_EXE LOOPCTL_EXE HOST_LOOPSIM HOST_LOOPCTL
set -uo pipefail
wine=$1 loopsim=$2 loopctl=$3 host_loopsim=$4 host_loopctl=$5
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/wine-serve.sh"
scratch=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
export LC_ALL=C
failures=0
fail() {
  echo "loopsim_serve: $*" >&2
  failures=$((failures + 1))
}
# Runs a Windows program; its output (CR dropped) in $out, its exit status returned.
run() {
  timeout 120 "$wine" "$@" >"$scratch/out" 2>&1
  local status=$?
  out=$(tr -d '\r' <"$scratch/out")
  return $status
}
reg() { "$wine" reg "$@" >/dev/null 2>&1; }
classes='HKCU\Software\Classes'
ours='{1C9E6E63-7226-4772-9AC9-C55F2CB8C05C}'

# The demo bus without its random walk, so both systems read the same values.
"$host_loopsim" scenario | sed '/^seed = /a drift = no' >"$scratch/bus.ini"
mkdir -m 700 "$scratch/run"
XDG_RUNTIME_DIR=$scratch/run "$host_loopsim" serve --scenario "$scratch/bus.ini" \
  >"$scratch/linux.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "serving on" "$scratch/linux.log" && break; sleep 0.1; done
linux() { XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch "$host_loopctl" "$@" 2>/dev/null; }
# The first addresses and 127: each probe of an empty address costs COM
# activations under Wine, a whole scan over a minute.
scan=(scan --port COM1 --addr 1-20,127)
linux_scan=$(linux "${scan[@]}")
linux_read=$(linux read --port COM1 --addr 5)
[[ $linux_read == *Обрыв* ]] || fail "no reference reading from Linux: $linux_read"

scenario=$("$wine" winepath -w "$scratch/bus.ini" 2>/dev/null | tr -d '\r')
# What a loopsim killed while serving leaves behind: taken over, and gone after Ctrl-C.
machine='HKLM\Software\Classes'
reg add "$machine\\Simul.Simulator" /v RegisteredBy /d 'loopsim serve' /f
reg add "$machine\\Simul.Simulator\\CLSID" /ve /d "$ours" /f
if wine_serve "$scratch/serve.log" "$loopsim" serve --scenario "$scenario"; then
  out=$(timeout 120 "$wine" "$loopctl" "${scan[@]}" 2>/dev/null | tr -d '\r')
  [[ $out == "$linux_scan" ]] || fail "scan through loopsim.exe:"$'\n'"$out"$'\n---\n'"$linux_scan"
  run "$loopctl" read --port COM1 --addr 5
  [[ $out == "$linux_read" ]] || fail "read differs from Linux:"$'\n'"$out"$'\n---\n'"$linux_read"
  reg query 'HKCR\Simul.Simulator\CLSID' || fail "not registered while serving"
  run "$loopsim" serve
  [[ $? -eq 1 && $out == *"already runs"* ]] || fail "a second server: $out"
  wine_stop
  grep -q "stopped" "$scratch/serve.log" || fail "Ctrl-C: $(cat "$scratch/serve.log")"
  ! reg query 'HKCR\Simul.Simulator' || fail "the registration stays after Ctrl-C"
  run "$loopctl" scan --port COM1 --addr 5
  # Nothing answers on the port (or it cannot be opened): no device, no simulator.
  [[ $out != *Адрес* && $out != *Simul* && ($out == *"no device answers"* || $out == *COM1*) ]] ||
    fail "after the server, the port is used: $out"
else
  fail "loopsim.exe does not serve: $(cat "$scratch/serve.log")"
fi

# Registered by the installation: used, and kept when loopsim stops.
reg add "$machine\\Simul.Simulator\\CLSID" /ve /d "$ours" /f
reg add "$machine\\Simul.Simul2\\CLSID" /ve /d '{EA60188A-A67E-4C9C-BE36-BFBBC6520BF1}' /f
if wine_serve "$scratch/installed.log" "$loopsim" serve; then
  grep -q "registered by the installation" "$scratch/installed.log" || fail "$(cat "$scratch/installed.log")"
  ! reg query "$classes\\Simul.Simulator" || fail "written for the user beside the installation's"
  wine_stop
  reg query "$machine\\Simul.Simulator\\CLSID" || fail "the installation's registration was removed"
else
  fail "does not serve beside the installation's registration: $(cat "$scratch/installed.log")"
fi
reg delete "$machine\\Simul.Simulator" /f
reg delete "$machine\\Simul.Simul2" /f

# Another installation's server: named, and left as it is.
other='{0D5B1E1A-7C3F-4B9A-8E21-5F6A7B8C9D0E}'
reg add "$classes\\Simul.Simulator\\CLSID" /ve /d "$other" /f
reg add "$classes\\CLSID\\$other\\InprocServer32" /ve /d 'C:\old\simul.dll' /f
run "$loopsim" serve
[[ $? -eq 1 && $out == *"registered by another installation (class $other, server C:\\old\\simul.dll)"* ]] ||
  fail "another installation's server: $out"
"$wine" reg query "$classes\\Simul.Simulator\\CLSID" 2>/dev/null | grep -q "$other" ||
  fail "another installation's registration was changed"
reg delete "$classes\\Simul.Simulator" /f
reg delete "$classes\\CLSID\\$other" /f

[[ $failures -eq 0 ]] && echo "loopsim.exe serves, stops and registers as it must"
[[ $failures -eq 0 ]]
