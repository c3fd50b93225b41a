#!/usr/bin/env bash
# pyrelink.exe, the Windows window, under Wine in a virtual X server against pyrelink-sim running
# natively, its pseudo-terminal mapped as COM1; driven by the mouse and the keyboard (xdotool).
# window_probe.exe reads what the window's controls show and which message boxes are open.
# A session with a deco that answers at once: a second copy ends silently; the controls stand as
# the layout table gives them; Connect from standby;
# a READ of EEPROM and channel list gives the simulator's memories; a channel list chosen with the
# file picker is written by the method chosen with the mouse and lands in the simulated flash;
# closing while in service mode asks first. A session with a deco slow to answer: a close during
# Connect is asked when Connect has ended; Abort during a READ, whose part stays apart from the
# dump's name; Abort during a WRITE's flash work, after which Disconnect asks first, No by
# default. The WRITE is one of Different blocks, which writes only the sector that differs: what the
# window must show is the same (the choice, the confirm box, the bar's colour, the written flash),
# the methods themselves are the engine's, tested natively, and a WRITE of the whole channel
# list took most of this test's time under Wine.
# Usage (under xvfb-run): window_under_wine.sh WINE NATIVE_BUILD PYRELINK_EXE WINDOW_PROBE_EXE
set -euo pipefail
wine=$1 native=$2 exe=$3 probe_exe=$4
wineserver=$(dirname "$wine")/wineserver
sim=$native/sim/pyrelink-sim
: "${WINEPREFIX:?a throw-away Wine prefix}"
: "${DISPLAY:?an X server (run under xvfb-run)}"
export WINEDEBUG=-all

work=$(mktemp -d)
# shellcheck source=sim_on_com1.sh
source "$(dirname "$0")/sim_on_com1.sh"
window_pid=""

stop_window() {
  if [[ -n $window_pid ]]; then
    kill "$window_pid" 2>/dev/null || true
    wait "$window_pid" 2>/dev/null || true
  fi
  window_pid=""
}
trap 'stop_window; stop_sim; "$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  if [[ -n $window_pid ]]; then
    echo "--- the log pane:" >&2
    probe text Memo1 >&2 || true
    echo >&2
    echo "--- message boxes:" >&2
    probe boxes >&2 || true
  fi
  exit 1
}

probe() { "$wine" "$probe_exe" "$@" | tr -d '\r'; }

# Polls until the command succeeds, at most the given seconds.
wait_for() {  # seconds, what, command...
  local seconds=$1 what=$2
  shift 2
  local end=$((SECONDS + seconds))
  while ((SECONDS < end)); do
    "$@" && return 0
    sleep 0.1
  done
  fail "$what (waited $seconds s)"
}

# A real click at the control's centre, where the window shows it.
click() {
  local where
  where=$(probe where "$1") || fail "no control $1"
  # shellcheck disable=SC2086
  xdotool mousemove $where click "${@:2}" 1
}

state_is() { [[ $(probe state "$1") == "$2" ]]; }
text_is() { [[ $(probe text "$1") == "$2" ]]; }
checked_is() { [[ $(probe checked "$1") == "$2" ]]; }
dropped_is() { [[ $(probe dropped "$1") == "$2" ]]; }
# Keys go where the keyboard is: each is sent only once the window meant for it has it.
foreground_is() { [[ $(probe foreground) == "$1" ]]; }
last_lines_are() {  # the log pane ends with these lines (one argument each)
  local expected
  expected=$(printf '%s\n' "$@")
  [[ $(probe text Memo1 | tail -n $#) == "$expected" ]]
}
box_open() { [[ -n $(probe boxes) ]]; }
no_box() { [[ -z $(probe boxes) ]]; }
box_has_keyboard() { box_open && foreground_is '#32770'; }

# Waits for the one open message box, checks its title and text, answers with a key.
answer() {  # "title|text" (line breaks as \n), key
  wait_for 20 "a message box '$1' with the keyboard" box_has_keyboard
  local shown
  shown=$(probe boxes)
  [[ $shown == "$1" ]] || fail "message box: got '$shown', expected '$1'"
  xdotool key "$2"
  wait_for 20 "the box '$1' to close" no_box
}

window_count_is() { [[ $(probe windows) == "$1" ]]; }
window_gone() { ! kill -0 "$window_pid" 2>/dev/null; }

start_window() {  # folder
  (cd "$1" && exec "$wine" "$exe" >/dev/null 2>&1) &
  window_pid=$!
  wait_for 60 "the window to appear" window_count_is 1
}

# Chooses COM1 in the port list with the mouse and the keyboard, and connects. The keys wait for
# the list to open; the choice is read once the list has closed. A command given runs once
# Connect holds the window's thread.
window_busy() { [[ $(probe busy) == 1 ]]; }
connect_com1() {
  click ComboBox1
  wait_for 20 "the port list to open" dropped_is ComboBox1 1
  xdotool key Home Return
  wait_for 20 "the port list to close" dropped_is ComboBox1 0
  text_is ComboBox1 COM1 || fail "COM1 not chosen: '$(probe text ComboBox1)'"
  click Button4
  if (($#)); then
    wait_for 20 "Connect to hold the window's thread" window_busy
    "$@"
  fi
  # The window's thread answers the probe only once Connect has ended.
  wait_for 60 "Connect to end with OK" last_lines_are "Initializing deco ..." "OK"
  [[ $(probe text Button4) == Disconnect ]] || fail "Button4 reads '$(probe text Button4)'"
  state_is ComboBox1 "shown disabled" || fail "the port list is not disabled while connected"
  echo "ok: Connect from standby ends with OK"
}

# Presses a button that starts a job and waits for the job's end (READ shown again).
run_job() {  # button
  click "$1"
  wait_for 30 "the job to start (Abort shown)" state_is Button1 "shown enabled"
}
job_ended() { state_is Button5 "shown enabled" && state_is Button1 "hidden enabled"; }

tick() {  # check boxes to tick with the mouse; the others are unticked
  for box in CheckBox1 CheckBox2 CheckBox3; do
    local want=0 now
    [[ " $* " == *" $box "* ]] && want=1
    now=$(probe checked "$box")
    [[ $now == "$want" ]] || click "$box"
    wait_for 20 "$box to take the click" checked_is "$box" "$want"
  done
}

# ---- a deco that answers at once ---------------------------------------------------------------
flash=$work/flash.bin eeprom=$work/eeprom.bin saved=$work/saved-flash.bin
head -c $((2 * 1024 * 1024)) /dev/urandom >"$flash"
head -c 2048 /dev/urandom >"$eeprom"
start_sim --flash "$flash" --eeprom "$eeprom" --save-flash "$saved"
run=$work/run
mkdir -p "$run"
start_window "$run"

# A second copy ends by itself, silently, and leaves the first as it was.
(cd "$run" && timeout 30 "$wine" "$exe" >/dev/null 2>&1) || fail "the second copy: exit $?"
window_count_is 1 || fail "$(probe windows) windows after the second copy"
no_box || fail "the second copy left a message: $(probe boxes)"
[[ $(probe text Button4) == Connect ]] || fail "the first copy changed"
echo "ok: a second copy ends silently beside the first"

# Before anything changes them, the controls stand as the layout table gives them.
differences=$(probe layout)
[[ -z $differences ]] || fail "controls not as the layout table gives them:
$differences"
echo "ok: every control stands as the layout table gives it"

connect_com1

tick CheckBox2 CheckBox3
run_job Button5
wait_for 120 "the READ to end" job_ended
cmp "$run/E.bin" "$eeprom" || fail "E.bin differs from the simulator's EEPROM"
cmp "$run/Ch.bin" <(head -c $((512 * 1024)) "$flash") ||
  fail "Ch.bin differs from the simulator's channel list"
echo "ok: READ of EEPROM and channel list gives the simulator's memories"
bar_shows() { [[ " $(probe colours ProgressBar1) " == *" $1 "* ]]; }
bar_shows 0000FF || fail "the bar of a READ is not blue: $(probe colours ProgressBar1)"
echo "ok: the progress bar of a READ is blue"

# A channel list that differs from the deco's in sector 3. Its first sectors hold what the write
# leaves there (erased, eight zero words), so the flash must equal it after.
image=$run/NewCh.bin
{
  head -c 32 /dev/zero
  head -c $((0x10000 - 32)) /dev/zero | tr '\0' '\377'
  tail -c +$((0x10000 + 1)) "$run/Ch.bin"
} >"$image"
printf '\x5a\xa5' | dd of="$image" bs=1 seek=$((0x30100)) conv=notrunc status=none
cmp -s "$image" "$run/Ch.bin" && fail "the new channel image equals the deco's"
# Chosen with the file picker, opened by a double click.
click Edit3 --repeat 2 --delay 80
wait_for 20 "the file picker with the keyboard" box_has_keyboard
[[ $(probe boxes) == "Open CHANNEL File (512KB)|Binary files (*.bin)" ]] ||
  fail "file picker: '$(probe boxes)'"
xdotool type --delay 20 NewCh.bin
xdotool key Return
wait_for 20 "the file picker to close" no_box
edit3_names_the_file() { [[ $(probe text Edit3) == *'\NewCh.bin' ]]; }
wait_for 20 "Edit3 to name NewCh.bin" edit3_names_the_file
echo "ok: the file picker puts the chosen file into Edit3"

tick CheckBox3
click RadioButton3
wait_for 20 "Different blocks to be the chosen method" checked_is RadioButton3 1
checked_is RadioButton1 0 || fail "Normal is still chosen beside Different blocks"
click Button6
answer "Confirm|Patch deco is risky.  Continue?" Return
wait_for 30 "the WRITE to start (Abort shown)" state_is Button1 "shown enabled"
wait_for 120 "the bar to turn magenta while the differing blocks are written" bar_shows FF00FF
echo "ok: the progress bar turns magenta while the differing blocks are written"
wait_for 600 "the WRITE to end" job_ended
echo "ok: a Different blocks WRITE ran from the window"

# Closing while in service mode asks first; No keeps the window.
xdotool mousemove $(probe where Memo1)
wait_for 20 "the window to have the keyboard" foreground_is TForm1
xdotool key alt+F4
port_question='Warning|Serial port is not disconnected.\nDeco is still in Service mode.\nQuit anyway ?'
answer "$port_question" n
window_count_is 1 || fail "the window closed on No"
wait_for 20 "the window to have the keyboard again" foreground_is TForm1
xdotool key alt+F4
answer "$port_question" Return
wait_for 30 "the program to end after Yes" window_gone
window_pid=""
echo "ok: closing in service mode asks first; No keeps the window, Yes closes it"

stop_sim
cmp <(head -c $((512 * 1024)) "$saved") "$image" || fail "the flash's channel list differs after the WRITE"
cmp <(tail -c +$((512 * 1024 + 1)) "$saved") <(tail -c +$((512 * 1024 + 1)) "$flash") ||
  fail "the WRITE changed the flash beyond the channel list"
echo "ok: the WRITE of the channel list landed in the simulator's flash"

# ---- a deco slow to answer: Abort during a READ ------------------------------------------------
start_sim --slow-reply 3
slow=$work/slow
mkdir -p "$slow"
start_window "$slow"
# Closed from the taskbar while Connect holds the window's thread: the question comes once
# Connect has ended, and takes the keyboard.
connect_com1 probe close
answer "$port_question" n
window_count_is 1 || fail "the window closed on No"
echo "ok: a close during Connect is asked once Connect has ended; No keeps the window"
tick CheckBox1
run_job Button5
wait_for 30 "the firmware READ to begin" last_lines_are "Read FIRMWARE ..."
click Button1
answer 'Confirm|READ is still active.\nExtracted file will be incomplete.\nAre you sure to quit?' Return
answer 'pyrelink|Thread Aborted' Return
wait_for 20 "the window to return to idle" job_ended
[[ ! -e $slow/Fw.bin ]] || fail "an aborted READ made Fw.bin"
size=$(stat -c %s "$slow/Fw.bin.partial")
((size < 2 * 1024 * 1024)) || fail "Fw.bin.partial is complete ($size bytes) after Abort"
echo "ok: Abort during a READ asks, stops the job, says Thread Aborted and keeps what was read apart ($size bytes)"

# A WRITE stopped once its flash work has begun leaves the flash half written: Disconnect asks
# first, and Enter (its default) keeps the connection.
head -c $((512 * 1024)) /dev/urandom >"$slow/Ch.bin"
tick CheckBox3
click Button6
answer "Confirm|Patch deco is risky.  Continue?" Return
writing() { [[ $(probe text Memo1 | tail -n 1) == "Write "* ]]; }
wait_for 120 "the WRITE's flash work to begin" writing
click Button1
answer 'Confirm|WRITE is still active.\nYour deco will be dead if quit.\n Are you sure to quit?' Return
answer 'pyrelink|Thread Aborted' Return
wait_for 20 "the window to return to idle" job_ended
click Button4
wait_for 20 "Disconnect's question with the keyboard" box_has_keyboard
[[ $(probe boxes) == 'Warning|The last WRITE did not end with its final check passed'* ]] ||
  fail "Disconnect's question: '$(probe boxes)'"
xdotool key Return
wait_for 20 "Disconnect's question to close" no_box
[[ $(probe text Button4) == Disconnect ]] || fail "Enter at Disconnect's question disconnected"
[[ $(probe text Memo1 | tail -n 1) == "Disconnect cancelled: "* ]] ||
  fail "the log does not say Disconnect was cancelled: '$(probe text Memo1 | tail -n 1)'"
echo "ok: after a WRITE stopped in its flash work, Disconnect asks first and Enter keeps the connection"
