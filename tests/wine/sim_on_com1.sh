# The simulated deco as COM1 of the Wine prefix, for the Wine tests (sourced). Needs sim (the
# pyrelink-sim to run), wine, wineserver, work (a folder of the test's) and a fail function;
# sets sim_pid and port.
sim_pid=""
port=""

stop_sim() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}

# Starts a simulated deco with the given options and maps COM1 to its pseudo-terminal. Wine
# rebuilds its COM links from HKLM\Software\Wine\Ports when its server starts, so the server is
# restarted after the change.
start_sim() {
  stop_sim
  "$sim" --no-announce --ignore-stdin "$@" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    [[ $port == /dev/* ]] && break
    sleep 0.05
  done
  [[ $port == /dev/* ]] || fail "the simulator did not start: $(cat "$work/sim.out")"
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$port" /f >/dev/null 2>&1
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1
  # Started here, not by the next program: its diagnostics on exit stay out of the test output.
  "$wineserver" >/dev/null 2>&1
}
