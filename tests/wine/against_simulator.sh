#!/usr/bin/env bash
# The Windows programs under Wine against pyrelink-sim running natively, its pseudo-terminal
# mapped as COM1: the serial backend's own tests; a READ and a Safe WRITE by pyrelink-cli.exe,
# which must give the same files and log lines as the Linux pyrelink-cli; the registry port list;
# the single-instance guard. Runs in the Wine prefix of WINEPREFIX (a throw-away one).
# Usage: against_simulator.sh WINE NATIVE_BUILD COM_PORT_TESTS_EXE PYRELINK_CLI_EXE PROBE_EXE
set -euo pipefail
wine=$1 native=$2 com_port_tests=$3 cli_exe=$4 probe_exe=$5
wineserver=$(dirname "$wine")/wineserver
sim=$native/sim/pyrelink-sim
cli=$native/src/cli/pyrelink-cli
: "${WINEPREFIX:?a throw-away Wine prefix}"
export WINEDEBUG=-all

work=$(mktemp -d)
# shellcheck source=sim_on_com1.sh
source "$(dirname "$0")/sim_on_com1.sh"

# The Wine server started here must not outlive the test (nor write to its output later).
trap 'stop_sim; "$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Log lines without what legitimately differs between two runs: the seconds a phase took, the
# time stamp in the names of the files a run makes (each system writes it its own way), the
# separator of a path's folders, and the CR that the Windows C library puts before each line end.
log_lines() {
  tr -d '\r' <"$1" | tr '\\' / | sed -E -e 's/\(([0-9]+) sec\.\)/(N sec.)/' \
    -e 's/_(512KB|2MB|2MB_MERGED)_.*\.BIN/_\1_STAMP.BIN/' \
    -e 's/backup-[0-9A-Za-z_.:-]*[0-9A-Za-z]/backup-STAMP/g'
}

same_run() {  # name, folder of the Windows run, folder of the Linux run, files...
  local name=$1 windows=$2 linux=$3
  shift 3
  diff <(log_lines "$windows/out.txt") <(log_lines "$linux/out.txt") ||
    fail "$name: the log lines differ (left Windows, right Linux)"
  for file in "$@"; do
    cmp "$windows/$file" "$linux/$file" || fail "$name: $file differs"
  done
  echo "ok: $name gives the same log lines and files under Wine as on Linux"
}

run_windows() {  # folder, arguments of pyrelink-cli.exe
  local folder=$1
  shift
  mkdir -p "$folder"
  (cd "$folder" && "$wine" "$cli_exe" --port COM1 "$@" >out.txt 2>err.txt) ||
    fail "pyrelink-cli.exe $*: exit $?: $(tr -d '\r' <"$folder/err.txt")"
}

run_linux() {  # folder, arguments of pyrelink-cli
  local folder=$1
  shift
  mkdir -p "$folder"
  (cd "$folder" && "$cli" --port "$port" "$@" >out.txt 2>err.txt) ||
    fail "pyrelink-cli $*: exit $?: $(cat "$folder/err.txt")"
}

# The serial backend's tests: the deco starts in standby and drops its 12th reply.
start_sim --drop-reply 12
"$wine" "$com_port_tests" || fail "com_port_tests.exe"

# A READ of all three memories.
start_sim
read_all=(read --firmware Fw.bin --eeprom E.bin --channel Ch.bin --yes)
run_windows "$work/read-windows" --verbose "${read_all[@]}"
run_linux "$work/read-linux" "${read_all[@]}"
same_run "READ" "$work/read-windows" "$work/read-linux" Fw.bin E.bin Ch.bin
# Wine cannot set 7E1 on a pseudo-terminal: --verbose says which line format it set instead.
grep -qF "; line set to 8N1: Wine on a pseudo-terminal refused 7E1" "$work/read-windows/err.txt" ||
  fail "--verbose does not tell the line format: $(tr -d '\r' <"$work/read-windows/err.txt")"
echo "ok: --verbose tells the line format that Wine set"
# SHA-256 through BCrypt, as sha256sum computes it.
digest=$(cd "$work/read-windows" && "$wine" "$cli_exe" info Fw.bin | tr -d '\r' |
  sed -n 's/^  SHA-256 //p')
[[ $digest == $(sha256sum <"$work/read-linux/Fw.bin" | cut -d' ' -f1) ]] ||
  fail "info under Wine gives SHA-256 '$digest'"

# A Safe WRITE of a channel list that differs from the deco's in sector 3. Its first sectors
# hold what the write leaves there (erased, eight zero words), so the flash must equal it after.
# Past a few hundred words of data it is blank: every sector is still erased, written and
# compared, but only those words are programmed (the blank ones skipped), which keeps the two
# WRITEs short.
image=$work/NewCh.bin
data_bytes=$((0x200))
{
  head -c 32 /dev/zero
  head -c $((0x10000 - 32)) /dev/zero | tr '\0' '\377'
  head -c $((0x10000 + data_bytes)) "$work/read-linux/Ch.bin" | tail -c "$data_bytes"
  head -c $((0x80000 - 0x10000 - data_bytes)) /dev/zero | tr '\0' '\377'
} >"$image"
printf '\x5a\xa5' | dd of="$image" bs=1 seek=$((0x10100)) conv=notrunc status=none
cmp -s "$image" "$work/read-linux/Ch.bin" && fail "the new channel image equals the deco's"
write_channel=(write --channel "$image" --method safe --skip-blank-words --yes)
run_windows "$work/write-windows" "${write_channel[@]}"
run_linux "$work/after-windows-write" read --channel Ch.bin --yes
cmp "$work/after-windows-write/Ch.bin" "$image" || fail "the flash differs after the Wine WRITE"
run_linux "$work/write-linux" "${write_channel[@]}"
same_run "Safe WRITE" "$work/write-windows" "$work/write-linux"
cmp "$work"/write-windows/_512KB_*.BIN "$work"/write-linux/_512KB_*.BIN ||
  fail "the read-backs of the two WRITEs differ"
stop_sim

# The port list comes from the registry, in the order the registry gives it.
# Value names and data sort differently, so that a list sorted by port name would show.
# COM7's details come from the instance key of the USB device that made it; COM3's from an FTDI
# driver's own enumerator, with the latency timer the driver keeps beside the port's name.
# A registry write that fails once (a Wine server still starting) is tried again; one that keeps
# failing says which.
reg_add() {
  for _ in 1 2 3; do
    "$wine" reg add "$@" /f >/dev/null 2>&1 && return 0
    sleep 1
  done
  fail "reg add $*"
}
reg_add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v PyrelinkTestA /d COM7
reg_add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v PyrelinkTestB /d COM3
instance='HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_0403&PID_6001\A1B2C3'
reg_add "$instance" /v FriendlyName /d 'USB Serial Port (COM7)'
reg_add "$instance\Device Parameters" /v PortName /d COM7
ftdi='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6015+DA01XYZA\0000'
reg_add "$ftdi" /v FriendlyName /d 'USB Serial Port (COM3)'
reg_add "$ftdi\Device Parameters" /v PortName /d COM3
reg_add "$ftdi\Device Parameters" /v LatencyTimer /t REG_DWORD /d 16
listing=$("$wine" "$cli_exe" ports | tr -d '\r') || fail "ports under Wine"
ports=$(grep -E '^COM(7|3)( |$)' <<<"$listing" | cut -d' ' -f1 | tr '\n' ' ')
[[ $ports == "COM7 COM3 " ]] || fail "ports from the registry: got '$ports', expected 'COM7 COM3 '"
grep -qx 'COM7  USB Serial Port (COM7)  0403:6001  serial A1B2C3' <<<"$listing" ||
  fail "COM7's details: got '$listing'"
grep -qx 'COM3  USB Serial Port (COM3)  0403:6015  latency timer 16 ms' <<<"$listing" ||
  fail "COM3's details with its FTDI latency timer: got '$listing'"
echo "ok: the port list comes from the registry in its order, with the device's details and an FTDI adapter's latency timer"

# The single-instance guard: a second copy of the same file name finds the first; a copy under
# another name does not.
exec {hold_in}> >(cd "$work" && "$wine" "$probe_exe" hold >"$work/first.txt")
for _ in $(seq 200); do
  [[ -s $work/first.txt ]] && break
  sleep 0.05
done
[[ $(tr -d '\r' <"$work/first.txt") == first ]] || fail "the first copy did not take the guard"
[[ $("$wine" "$probe_exe" | tr -d '\r') == later ]] || fail "a second copy did not see the first"
cp "$probe_exe" "$work/renamed_probe.exe"
[[ $("$wine" "$work/renamed_probe.exe" | tr -d '\r') == first ]] ||
  fail "a copy under another name saw the guard"
exec {hold_in}>&-
echo "ok: the single-instance guard holds per executable name"
