#!/usr/bin/env bash
# loopctl.exe scans the demo bus over RFC 2217: loopsim plays it on a
# pseudo-terminal on the Linux side and ser2net serves that line on the
# loopback address, on a port found free by trying.
#   remote_scan.sh WINE WINDOWS_LOOPCTL LOOPSIM
set -euo pipefail
wine=$1 loopctl=$2 loopsim=$3
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
scratch=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

"$loopsim" pty --link "$scratch/tty" </dev/null >"$scratch/loopsim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$scratch/tty" ] && break; sleep 0.05; done

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=""
for _ in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 40000))
  accepts "$candidate" && continue
  "$ser2net" -n -u -c /dev/null \
    -Y "connection: &line#  accepter: telnet(rfc2217),tcp,127.0.0.1,$candidate#  connector: serialdev,$scratch/tty,9600n81,local" \
    </dev/null >"$scratch/ser2net.log" 2>&1 &
  server=$!
  for _ in $(seq 50); do
    if accepts "$candidate"; then port=$candidate; break; fi
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$port" ]; then pids+=("$server"); break; fi
  kill "$server" 2>/dev/null || true
done
[ -n "$port" ] || { echo "remote_scan: ser2net does not serve ($ser2net)" >&2; exit 1; }

out=$("$wine" "$loopctl" scan --port "rfc2217://127.0.0.1:$port" | tr -d '\r')
printf '%s\n' "$out"
expected='Адрес: 127  Hovra-Y (версия  1.01)
Адрес:   5  Mivra-Q (версия  1.05)
Адрес:  12  Mivra-QX (версия  1.10)
Адрес:  20  Hovra-J (версия  1.02)
Адрес:  63  Mivra-QW (версия  1.05)'
[ "$out" = "$expected" ] || { echo "remote_scan: not the demo bus" >&2; exit 1; }
