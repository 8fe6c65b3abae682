# Sourced by the Wine tests that run a Windows server beside its clients.
# wine_serve LOG PROGRAM ARGS... starts PROGRAM under $wine in the background,
# with what it prints in LOG, and returns once it says it serves (0) or has
# ended (1); $server is its process, also added to $pids when the caller
# keeps that list. wine_stop ends it as Ctrl-C in its console does.
wine_serve() {
  local log=$1
  shift
  "$wine" "$@" >"$log" 2>&1 &
  server=$!
  [[ -n ${pids+x} ]] && pids+=("$server")
  for _ in $(seq 600); do
    grep -q "serving" "$log" && return 0
    kill -0 "$server" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wine_stop() {
  kill -INT "$server"
  wait "$server"
}
