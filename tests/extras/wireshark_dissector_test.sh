#!/usr/bin/env bash
# The capture files and the Wireshark dissector, checked by tshark: a short
# upgrade of one simulated device captured on both sides, an upgrade that
# needs a resend, and the replies fuzz corpus written as a capture.
#
#   wireshark_dissector_test.sh CASE DEVSIM UPGRADECTL FUZZ_REPLIES_PCAP DISSECTOR CORPUS_DIR [DESKTOP]
#   CASE: upgrade | resend | corpus | desktop (an unwritable capture only; needs no tshark)
#
# Exits 77 (skipped) when tshark is missing; scripts/setup installs it.
set -euo pipefail

case_name=$1 devsim=$2 ctl=$3 corpus_tool=$4 dissector=$5 corpus=$6 desktop=${7:-}

[ "$case_name" = desktop ] || command -v tshark >/dev/null || { echo "tshark is not installed (scripts/setup installs it)"; exit 77; }

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || kill -TERM "$sim_pid" 2>/dev/null || true
  [ -z "$sim_pid" ] || wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() {  # expect WHAT WANTED GOT
  [ "$2" = "$3" ] || fail "$1: wanted '$2', got '$3'"
  echo "ok: $1 = $3"
}

# tshark with the dissector; -2 so that requests know their replies. The
# simulator listens on a free port, found by the packets' magic, before any
# dissector that port may belong to. The corpus capture keeps to port 4101,
# where garbage without the magic is still the protocol's (as a user's
# Wireshark shows it by default), not another heuristic's guess.
heuristic_first=TRUE
dissect() {
  local file=$1
  shift
  tshark -r "$file" -2 -X lua_script:"$dissector" -o udp.try_heuristic_first:"$heuristic_first" "$@" 2>"$work/tshark.err" \
    || { cat "$work/tshark.err" >&2; fail "tshark could not read $file"; }
}
fields() {  # fields FILE FILTER FIELD... : one line per frame, values separated by spaces
  local file=$1 filter=$2
  shift 2
  local args=()
  for field in "$@"; do args+=(-e "$field"); done
  dissect "$file" -Y "$filter" -T fields -E separator=' ' "${args[@]}"
}
joined() { tr '\n' ' ' | sed 's/ $//'; }

# No frame may carry a Lua error, and every frame must be the protocol's
# (but an empty datagram, which UDP hands to no dissector).
check_clean() {
  local file=$1
  local errors
  errors=$(dissect "$file" -V | grep -c "Lua Error" || true)
  expect "frames with a Lua error in $(basename "$file")" 0 "$errors"
  expect "frames not dissected in $(basename "$file")" 0 "$(fields "$file" '!quorvane && udp.length > 8' frame.number | wc -l)"
}

start_simulator() {
  "$devsim" --listen 127.0.0.1:0 --port-file "$work/port" --devices 1 --capture "$work/devsim.pcap" "$@" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.05
  done
  [ -s "$work/port" ] || fail "devsim did not report its port"
  port=$(cat "$work/port")
}

stop_simulator() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || fail "devsim did not end cleanly"
  sim_pid=
}

# 3001 bytes: five blocks of 512 and one of 441.
make_package() {
  seq 1000 >"$work/numbers"
  head -c 3001 "$work/numbers" >"$work/image.bin"
  printf 'SETPROGRAMMODE\nUNLOCKDEVICE\nERASE 1\nLOAD image.bin 1:0\nREAD readback.bin 1:0 100\nLOCKDEVICE\nRESET\n' \
    >"$work/program.cmd"
  printf 'PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 1\n' >"$work/restriction.ini"
  "$ctl" pack "$work/test.upk" --script "$work/program.cmd" --restrictions "$work/restriction.ini" \
    "$work/image.bin" >/dev/null
}

upgrade() {
  (cd "$work" && "$ctl" --broadcast 127.0.0.1 --port "$port" --wait-ms 300 --capture "$work/ctl.pcap" \
    upgrade test.upk --all --yes >/dev/null 2>"$work/ctl.err") || { cat "$work/ctl.err" >&2; fail "upgrade failed"; }
}

case_upgrade() {
  make_package
  start_simulator
  # A capture that cannot be written stops the command before it sends:
  # the simulator's own capture below holds one discovery only.
  local code=0
  "$ctl" --broadcast 127.0.0.1 --port "$port" --capture "$work/missing/x.pcap" discover 2>"$work/bad.err" || code=$?
  expect "exit code with an unwritable capture" 2 "$code"
  grep -q "cannot write capture file $work/missing/x.pcap" "$work/bad.err" || fail "no clear message: $(cat "$work/bad.err")"
  code=0
  "$devsim" --listen 127.0.0.1:0 --capture "$work/missing/y.pcap" 2>"$work/bad.err" || code=$?
  expect "devsim exit code with an unwritable capture" 1 "$code"
  grep -q "cannot write capture file $work/missing/y.pcap" "$work/bad.err" || fail "no clear message: $(cat "$work/bad.err")"
  local started
  started=$(date +%s)
  upgrade
  stop_simulator

  local requests='quorvane && quorvane.reply == 0'
  # Every request opcode: discovery, information, then the script's commands,
  # and the information query that finds the device back after its RESET.
  local sequence="0 12 9 3 4 5 7 7 7 7 7 7 6 10 2 8 12"
  expect "request opcodes" "$sequence" "$(fields "$work/ctl.pcap" "$requests" quorvane.opcode | joined)"
  expect "requests the simulator received" "$sequence" \
    "$(fields "$work/devsim.pcap" "$requests" quorvane.opcode | joined)"
  expect "LoadBegin address a, b and total length" "1 0 3001" \
    "$(fields "$work/ctl.pcap" "quorvane.load.total_length" quorvane.load.address_a quorvane.load.address_b \
      quorvane.load.total_length)"
  expect "LoadBlock index and data length" "0 512 1 512 2 512 3 512 4 512 5 441" \
    "$(fields "$work/ctl.pcap" "quorvane.block.length" quorvane.block.index quorvane.block.length | joined)"
  expect "LoadVerify checksum" "0xb4" "$(fields "$work/ctl.pcap" "quorvane.verify.checksum" quorvane.verify.checksum)"
  # Before the script and once it is back, the device tells the same identity.
  expect "identity and naming of the information replies" "0x1407 0x70fc Press Line 1 0x1407 0x70fc Press Line 1" \
    "$(fields "$work/ctl.pcap" "quorvane.opcode == 13" quorvane.info.vendor_id quorvane.info.device_id \
      quorvane.info.name | joined)"

  # Each request and its reply name each other.
  local verify_request verify_reply
  verify_request=$(fields "$work/ctl.pcap" "$requests && quorvane.opcode == 6" frame.number quorvane.response_in)
  verify_reply=$(fields "$work/ctl.pcap" "quorvane.reply == 1 && quorvane.opcode == 6" quorvane.response_to frame.number)
  expect "LoadVerify request frame and its reply" "25 26" "$verify_request"
  expect "LoadVerify reply's request frame and its own" "25 26" "$verify_reply"
  expect "replies without a request" 0 "$(fields "$work/ctl.pcap" 'quorvane.reply == 1 && !quorvane.response_to' \
    frame.number | wc -l)"
  expect "replies without a round-trip time" 0 "$(fields "$work/ctl.pcap" 'quorvane.reply == 1 && !quorvane.time' \
    frame.number | wc -l)"
  expect "resends in a clean run" 0 "$(fields "$work/ctl.pcap" quorvane.resend frame.number | wc -l)"

  # The frames carry the real ends: the simulator's port on one side, the
  # same port pair in both captures, and timestamps of this run.
  expect "simulator port of the first reply" "$port" "$(fields "$work/ctl.pcap" 'frame.number == 2' udp.srcport)"
  expect "ends of the discovery in both captures" \
    "$(fields "$work/ctl.pcap" 'frame.number == 1' ip.src udp.srcport ip.dst udp.dstport)" \
    "$(fields "$work/devsim.pcap" 'frame.number == 1' ip.src udp.srcport ip.dst udp.dstport)"
  local first
  first=$(fields "$work/ctl.pcap" 'frame.number == 1' frame.time_epoch | cut -d. -f1)
  [ "$first" -ge "$((started - 1))" ] && [ "$first" -le "$(($(date +%s) + 1))" ] \
    || fail "first frame at $first, the upgrade started at $started"
  expect "IPv4 header checksums not good" 0 \
    "$(dissect "$work/ctl.pcap" -o ip.check_checksum:TRUE -Y 'ip.checksum.status != 1' -T fields -e frame.number | wc -l)"
  check_clean "$work/ctl.pcap"
  check_clean "$work/devsim.pcap"
}

case_resend() {
  make_package
  # The first block request is lost: the program sends it again.
  start_simulator --drop-first LOAD_BLOCK:1
  upgrade
  stop_simulator
  local blocks
  blocks=$(fields "$work/ctl.pcap" 'quorvane.opcode == 7 && quorvane.reply == 0' frame.number | joined)
  local first=${blocks%% *}
  expect "the one resend repeats the first block request" "$first" \
    "$(fields "$work/ctl.pcap" quorvane.resend quorvane.resend_of)"
  expect "block requests sent" 7 "$(wc -w <<<"$blocks")"
  check_clean "$work/ctl.pcap"
}

case_corpus() {
  heuristic_first=FALSE
  "$corpus_tool" "$corpus" "$work/corpus.pcap" || fail "the corpus could not be written as a capture"
  local frames
  frames=$(fields "$work/corpus.pcap" frame frame.number | wc -l)
  [ "$frames" -gt 500 ] || fail "only $frames frames in the corpus capture"
  echo "ok: $frames frames in the corpus capture"
  check_clean "$work/corpus.pcap"
  # Cut packets are reported as such, not passed over.
  [ "$(fields "$work/corpus.pcap" 'quorvane.short' frame.number | wc -l)" -gt 0 ] || fail "no packet shorter than a header reported"
  [ "$(fields "$work/corpus.pcap" 'quorvane.truncated' frame.number | wc -l)" -gt 0 ] || fail "no cut payload reported"
}

# Refused before the window system is even asked for a window.
case_desktop() {
  local code=0
  "$desktop" --capture "$work/missing/z.pcap" 2>"$work/bad.err" || code=$?
  expect "desktop program exit code with an unwritable capture" 2 "$code"
  grep -q "^quorvane-upgrade: cannot write capture file $work/missing/z.pcap: No such file or directory$" \
    "$work/bad.err" || fail "no clear message: $(cat "$work/bad.err")"
}

"case_$case_name"
