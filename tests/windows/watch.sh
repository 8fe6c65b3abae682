#!/usr/bin/env bash
# loopctl.exe watch against loopsim.exe serve under Wine: a watch of the
# device at 5 for a few passes, then the same watch run by Wine's service
# manager (sc create, net start) until its stop (net stop), which ends it
# with the "stopped" event.
#   watch.sh WINE LOOPSIM_EXE LOOPCTL_EXE
set -uo pipefail
wine=$1 loopsim=$2 loopctl=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/wine-serve.sh"
scratch=$(mktemp -d)
service=loopmon-watch-test
server=""
cleanup() {
  "$wine" sc stop "$service" >/dev/null 2>&1
  "$wine" sc delete "$service" >/dev/null 2>&1
  [[ -n $server ]] && kill -KILL "$server" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
export LC_ALL=C
failures=0
fail() {
  echo "watch: $*" >&2
  failures=$((failures + 1))
}
windows_path() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
# The names of the events in the log folder $1, in order.
events() { grep -o '"event":"[^"]*"' "$1/watch.jsonl" 2>/dev/null | cut -d'"' -f4 | paste -sd' '; }
# Waits (generously: Wine starts slowly) until the log folder $1 has event $2.
await() {
  for _ in $(seq 1200); do
    grep -q "\"event\":\"$2\"" "$1/watch.jsonl" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

if ! wine_serve "$scratch/serve.log" "$loopsim" serve; then
  echo "watch: loopsim.exe does not serve: $(cat "$scratch/serve.log")" >&2
  exit 1
fi

mkdir "$scratch/run" "$scratch/service"
timeout 300 "$wine" "$loopctl" watch --port COM1 --addr 5 --passes 3 \
  --log "$(windows_path "$scratch/run")" >"$scratch/run.out" 2>&1 ||
  fail "loopctl.exe watch failed: $(cat "$scratch/run.out")"
[[ $(events "$scratch/run") == "started device found stopped" ]] ||
  fail "the watch's events: $(events "$scratch/run")"

"$wine" sc create "$service" binPath= "$(windows_path "$loopctl") watch --service --port COM1 \
--addr 5 --log $(windows_path "$scratch/service")" >"$scratch/sc.out" 2>&1 ||
  fail "sc create: $(cat "$scratch/sc.out")"
timeout 120 "$wine" net start "$service" >"$scratch/net.out" 2>&1 ||
  fail "net start: $(cat "$scratch/net.out")"
await "$scratch/service" "device found" || fail "the service watches nothing: $(events "$scratch/service")"
timeout 120 "$wine" net stop "$service" >"$scratch/net.out" 2>&1 ||
  fail "net stop: $(cat "$scratch/net.out")"
await "$scratch/service" "stopped" || fail "the service's stop: $(events "$scratch/service")"
grep -q '"event":"stopped","reason":"terminated"' "$scratch/service/watch.jsonl" ||
  fail "stopped for another reason: $(tail -1 "$scratch/service/watch.jsonl")"

wine_stop
server=""
[[ $failures -eq 0 ]] && echo "loopctl.exe watches, also as a service, and stops as it must"
[[ $failures -eq 0 ]]
