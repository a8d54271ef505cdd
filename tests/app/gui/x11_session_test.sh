#!/usr/bin/env bash
# The desktop program on a real X server, driven as a person would: Xvfb on
# a free display, devsim with three devices on 127.0.0.1, the program pointed
# at it; xdotool selects the first row, presses Upgrade, answers Yes to the
# configuration question, waits for the completion message, presses OK and
# then Done. Afterwards exactly one simulated device holds the image. Then a
# second run is ended by SIGHUP while a device is being loaded, and a third
# upgrades eight devices side by side. A
# screenshot of each step goes to SHOTS. Everything started here is stopped
# here; every wait is bounded.
#
#   x11_session_test.sh PROGRAM DEVSIM UPGRADECTL EXAMPLES_DIR SHOTS
# Exit 77 (skipped) when Xvfb, xdotool or import is missing.
set -euo pipefail
program=$1 devsim=$2 upgradectl=$3 examples=$4 shots=$5
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/setup installs it)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-x11.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "x11 session: $*" >&2; [ -f "$work/program.log" ] && sed 's/^/program: /' "$work/program.log" >&2; exit 1; }

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The server picks a free display itself and names it on the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display")
shot_number=0
shot() {
  shot_number=$((shot_number + 1))
  import -window root "$shots/$shot_number-$1.png"
}
mkdir -p "$shots"
rm -f "$shots"/*.png

"$devsim" --listen 127.0.0.1:0 --port-file "$work/port" --devices 3 --dump-dir "$work/dump" \
  --log-file "$work/devsim.log" &
pids+=($!)
wait_for 100 test -s "$work/port" || fail "devsim did not report its port"
"$upgradectl" pack "$work/example.upk" --script "$examples/program.cmd" \
  --restrictions "$examples/restriction.ini" "$examples/firmware.bin" >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log" >&2; fail "upgradectl pack failed"; }

QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work "$program" --broadcast 127.0.0.1 --port "$(cat "$work/port")" \
  "$work/example.upk" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)

# The visible windows whose title is exactly $1.
windows() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }
device_list() { windows "Quorvane Firmware Upgrade: example.upk" | head -n 1; }
# A message box (or the progress window): they carry the program's name.
small_window() { windows "Upgrade" | tail -n 1; }
shown() { [ -n "$("$@")" ]; }
hidden() { ! shown "$@"; }
# Clicks at a place given in the device list template's units (375 x 150).
click_in_list_dialog() {
  local window=$1 x=$2 y=$3 width height
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(WIDTH|HEIGHT)=')"
  xdotool mousemove --window "$window" $((WIDTH * x / 375)) $((HEIGHT * y / 150)) click 1
}
press() { xdotool windowfocus --sync "$1" && xdotool key --clearmodifiers "$2"; }
# True once the process has ended (a child that ended but was not waited for counts).
ended() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0; [[ $state == Z* ]]; }

wait_for 300 shown device_list || fail "the device list did not appear"
list=$(device_list)
sleep 0.5
shot device-list
click_in_list_dialog "$list" 100 14  # the first row, under the column headers
sleep 0.3
shot row-selected
click_in_list_dialog "$list" 345 32  # Upgrade
wait_for 100 shown small_window || fail "no configuration question after Upgrade"
question=$(small_window)
sleep 0.3
shot configuration-question
press "$question" alt+y
# The script ends with RESET; the completion message follows it.
wait_for 600 grep -q '^rx .*RESET' "$work/devsim.log" || fail "the upgrade did not reach RESET"
sleep 1
wait_for 100 shown small_window || fail "no completion message"
sleep 0.3
shot completion-message
press "$(small_window)" Return
# The list is built anew from a fresh discovery: it goes away first (unless
# it comes back faster than a look every tenth of a second can tell).
wait_for 50 hidden device_list || true
wait_for 300 shown device_list || fail "the device list did not come back"
sleep 0.5
shot device-list-again
click_in_list_dialog "$(device_list)" 345 137  # Done
wait_for 100 ended "$program_pid" || fail "the program did not end after Done"
status=0
wait "$program_pid" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with $status"
shot ended

# devsim writes each device's memory when it stops.
kill -TERM "${pids[1]}"
wait "${pids[1]}" || true
holding=0
for dump in "$work"/dump/*.bin; do
  [ -e "$dump" ] || continue
  if cmp -s "$dump" "$examples/firmware.bin"; then holding=$((holding + 1)); fi
done
[ "$holding" -eq 1 ] || fail "$holding devices hold the image; the one selected row should"
# A hangup while a device is being loaded: the run stops after the exchange
# under way, the events end with the device's end and the run's, the private
# folder goes, and the program exits 129.
"$devsim" --listen 127.0.0.1:0 --port-file "$work/slow.port" --devices 3 --block-delay-ms 200 \
  --log-file "$work/slow.log" &
pids+=($!)
wait_for 100 test -s "$work/slow.port" || fail "the second devsim did not report its port"
mkdir -p "$work/tmp"
TMPDIR=$work/tmp QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work "$program" --broadcast 127.0.0.1 \
  --port "$(cat "$work/slow.port")" --events "$work/events.jsonl" "$work/example.upk" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
wait_for 300 shown device_list || fail "the device list did not appear the second time"
list=$(device_list)
sleep 0.5
click_in_list_dialog "$list" 100 14
sleep 0.3
click_in_list_dialog "$list" 345 32
wait_for 100 shown small_window || fail "no configuration question the second time"
press "$(small_window)" alt+y
wait_for 300 grep -q '^rx LOAD_BLOCK' "$work/slow.log" || fail "the second upgrade did not reach LOAD"
shot loading-before-hangup
kill -HUP "$program_pid"
wait_for 100 ended "$program_pid" || fail "the program did not end after SIGHUP"
status=0
wait "$program_pid" || status=$?
[ "$status" -eq 129 ] || fail "the program ended with $status after SIGHUP, not 129"
grep -q '"event":"device-done".*"ok":false.*"interrupted":true' "$work/events.jsonl" \
  || fail "no interrupted device-done event: $(cat "$work/events.jsonl")"
tail -n 1 "$work/events.jsonl" | grep -q '"event":"run-done".*"exit_code":129' \
  || fail "the events do not end with run-done and 129: $(tail -n 2 "$work/events.jsonl")"
[ -z "$(ls -A "$work/tmp")" ] || fail "the private folder was left behind: $(ls "$work/tmp")"
! grep -q '^rx RESET' "$work/slow.log" || fail "the script went on to RESET after the hangup"

# Eight devices side by side (--jobs 8): a row each in the progress window,
# and afterwards every device holds the image. The script without its READ,
# which would make them go one at a time.
# A 256 KiB image, each block taking 1 ms to store: the fleet of scripts/bench.
grep -v '^READ' "$examples/program.cmd" >"$work/fleet.cmd"
mkdir -p "$work/fleet"
head -c $((256 * 1024)) /dev/urandom >"$work/fleet/firmware.bin"
"$upgradectl" pack "$work/fleet.upk" --script "$work/fleet.cmd" \
  --restrictions "$examples/restriction.ini" "$work/fleet/firmware.bin" >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log" >&2; fail "upgradectl pack of the fleet package failed"; }
# Devices alike but for their MACs, so that the package admits them all.
for i in $(seq 8); do
  printf 'mac=02:00:00:00:00:%02x vendor=0x1407 device=0x70FC product=0x0101 version=4.0.2 date=1/1/15\n' "$i"
done >"$work/fleet.profile"
"$devsim" --listen 127.0.0.1:0 --port-file "$work/fleet.port" --profile "$work/fleet.profile" --block-delay-ms 1 \
  --dump-dir "$work/fleet-dump" --log-file "$work/fleet.log" &
fleet_sim=$!
pids+=($fleet_sim)
wait_for 100 test -s "$work/fleet.port" || fail "the fleet devsim did not report its port"
QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work "$program" --broadcast 127.0.0.1 --port "$(cat "$work/fleet.port")" \
  --jobs 8 --events "$work/fleet.jsonl" "$work/fleet.upk" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
fleet_list() { windows "Quorvane Firmware Upgrade: fleet.upk" | head -n 1; }
wait_for 300 shown fleet_list || fail "the fleet's device list did not appear"
list=$(fleet_list)
sleep 0.5
click_in_list_dialog "$list" 100 14
press "$list" ctrl+a
sleep 0.3
shot fleet-selected
click_in_list_dialog "$list" 345 32
wait_for 100 shown small_window || fail "no configuration question for the fleet"
press "$(small_window)" alt+y
wait_for 300 grep -q '^rx LOAD_BLOCK' "$work/fleet.log" || fail "the fleet did not reach LOAD"
shot fleet-side-by-side
# Every device's end is in the events before the completion message comes up.
all_done() { [ "$(grep -c '"event":"device-done"' "$work/fleet.jsonl" 2>/dev/null)" -ge 8 ]; }
wait_for 900 all_done || fail "not every device of the fleet came to its end"
sleep 1
wait_for 100 shown small_window || fail "no completion message for the fleet"
shot fleet-completion
press "$(small_window)" Return
wait_for 50 hidden fleet_list || true
wait_for 300 shown fleet_list || fail "the fleet's list did not come back"
sleep 0.5
click_in_list_dialog "$(fleet_list)" 345 137
wait_for 300 ended "$program_pid" || fail "the program did not end after the fleet's Done"
wait "$program_pid" || fail "the program ended with $? after the fleet"
[ "$(grep -c '"event":"device-done".*"ok":true' "$work/fleet.jsonl")" -eq 8 ] \
  || fail "not every device of the fleet was upgraded: $(grep device-done "$work/fleet.jsonl")"
kill -TERM "$fleet_sim"
wait "$fleet_sim" || true
holding=0
for dump in "$work"/fleet-dump/*.bin; do
  [ -e "$dump" ] || continue
  if cmp -s "$dump" "$work/fleet/firmware.bin"; then holding=$((holding + 1)); fi
done
[ "$holding" -eq 8 ] || fail "$holding of the 8 devices hold the image"
# The figure scripts/bench quotes: from the first device's start to the run's end.
fleet_seconds=$(awk '/"event":"(device-start|run-done)"/ { match($0, /"t":[0-9.e+-]+/); t = substr($0, RSTART + 4, RLENGTH - 4) + 0
  if ($0 ~ /device-start/ && (first == "" || t < first)) first = t; if ($0 ~ /run-done/) last = t }
  END { printf "%.2f", last - first }' "$work/fleet.jsonl")
echo "x11 session: 8 devices side by side (256 KiB, 1 ms a block) in $fleet_seconds s"

echo "x11 session: one device upgraded; screenshots in $shots"
ls "$shots"
