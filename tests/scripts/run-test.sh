#!/usr/bin/env bash
# The ./run script on a desktop without a sound server: it starts a private
# PulseAudio, runs the program in data/ on it with the simulated loudspeaker
# as the play device, and once the program has ended (closed, failed, or the
# script stopped by a signal) no server and no folder of that run remain.
#
#   run-test.sh ROOT      tests ROOT/run on the build in AUDIMERA_BUILD_DIR
#
# The program is a stand-in (AUDIMERA_RUN_PROGRAM) that notes what it finds
# and ends at once, so the test takes a few seconds. Each case has its own
# TMPDIR, where the run's folder appears and must be gone afterwards.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ROOT" >&2; exit 2; }
root=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/audimera-run-test.XXXXXX")
work=$(cd "$work" && pwd)

# The pid of a pulseaudio still serving the socket of folder $1, if any.
server_of() {
  local pid
  for pid in $(cat "$1/pid" 2>/dev/null); do
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "socket=$1/native"; then
      echo "$pid"
    fi
  done
}

# What the script under test left behind goes too, by the pids it noted.
cleanup() {
  local report folder pid
  for report in "$work"/*/seen; do
    [ -f "$report" ] || continue
    folder=$(sed -n 's/^folder=//p' "$report")
    pid=$(sed -n 's/^pid=//p' "$report")
    if [ -n "$folder" ]; then
      if [ -n "$pid" ] && [ -n "$(server_of "$folder")" ]; then kill -9 "$pid" 2>/dev/null || true; fi
      rm -rf "$folder"
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The stand-in program: notes where it runs and the server it was given,
# then waits STANDIN_WAIT seconds and exits STANDIN_STATUS.
cat >"$work/program" <<'EOF'
#!/usr/bin/env bash
folder=${PULSE_SERVER#unix:}
folder=${folder%/native}
{
  echo "cwd=$PWD"
  echo "folder=$folder"
  echo "pid=$(cat "$folder/pid" 2>/dev/null)"
  echo "sink=$(pactl get-default-sink 2>&1)"
  echo "source=$(pactl get-default-source 2>&1)"
} >"$STANDIN_REPORT.part"
mv "$STANDIN_REPORT.part" "$STANDIN_REPORT"
sleep "$STANDIN_WAIT"
exit "$STANDIN_STATUS"
EOF
chmod +x "$work/program"

failures=0
check() { # case, what, expected, actual
  if [ "$3" != "$4" ]; then
    echo "FAIL $1: $2: expected '$3', got '$4'" >&2
    failures=$((failures + 1))
  fi
}

# case, program's status, seconds it runs, signal sent to ./run meanwhile
# (- for none), the status ./run must end with.
while read -r name status wait signal expected; do
  case_dir=$work/$name
  mkdir -p "$case_dir/tmp" "$case_dir/home"
  before=$failures
  report=$case_dir/seen
  # A desktop with no reachable sound server (the address leads nowhere).
  env -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR DISPLAY=:97 \
    PULSE_SERVER="unix:$case_dir/no-server/native" PULSE_COOKIE="$case_dir/cookie" \
    HOME="$case_dir/home" TMPDIR="$case_dir/tmp" AUDIMERA_RUN_PROGRAM="$work/program" \
    STANDIN_REPORT="$report" STANDIN_STATUS="$status" STANDIN_WAIT="$wait" \
    "$root/run" >"$case_dir/output" 2>&1 &
  run_pid=$!
  if [ "$signal" != - ]; then
    # Signalled while the program runs: it has noted what it found.
    for _ in $(seq 1200); do
      [ -f "$report" ] || ! kill -0 "$run_pid" 2>/dev/null && break
      sleep 0.1
    done
    kill "-$signal" "$run_pid" 2>/dev/null || true
  fi
  got=0
  wait "$run_pid" || got=$?
  check "$name" "exit status of ./run" "$expected" "$got"
  if [ ! -f "$report" ]; then
    echo "FAIL $name: the program did not run; ./run said:" >&2
    sed 's/^/  /' "$case_dir/output" >&2
    failures=$((failures + 1))
    continue
  fi
  folder=$(sed -n 's/^folder=//p' "$report")
  check "$name" "the program's folder" "$root/data" "$(sed -n 's/^cwd=//p' "$report")"
  check "$name" "the run's folder" "$case_dir/tmp/audimera-run." "${folder%??????}"
  check "$name" "the play device" speaker "$(sed -n 's/^sink=//p' "$report")"
  check "$name" "the record device" audimera_test.monitor "$(sed -n 's/^source=//p' "$report")"
  check "$name" "a server noted" yes "$([ -n "$(sed -n 's/^pid=//p' "$report")" ] && echo yes || echo no)"
  # What the run must not leave behind.
  check "$name" "the server still running" "" "$(server_of "$folder")"
  check "$name" "what is left in TMPDIR" "" "$(ls -A "$case_dir/tmp")"
  if [ "$failures" -eq "$before" ]; then echo "ok $name"; fi
done <<'CASES'
closed 0 0 - 0
failed 3 0 - 3
terminated 0 1 TERM 143
CASES

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
