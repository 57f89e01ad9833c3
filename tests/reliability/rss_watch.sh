#!/usr/bin/env bash
# Resident memory of the running game: it must stay flat once start-up is over.
# Runs COMMAND headless in DIR (the directory holding data/), waits for its loop,
# samples VmRSS once a second for SECONDS, then ends it with SIGTERM. Prints the
# samples, and the first second's against the last; fails when the last exceeds
# the first second's by more than SLACK_KB (default 1024), or when the game
# stops before its time or does not end with 0.
#
# Usage: rss_watch.sh [-q] SECONDS DIR COMMAND [ARGS...]
#   -q  print only the summary, not every sample
#   e.g. rss_watch.sh 600 build build/quorvane            (the game on its menu)
#        rss_watch.sh 600 build build/tests/reliability/session_driver   (played)
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
quiet=0
[ "${1:-}" = -q ] && { quiet=1; shift; }
seconds=$1
dir=$(cd "$2" && pwd)
shift 2
slack=${SLACK_KB:-1024}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export XDG_DATA_HOME=$out/data-home   # player data: never a real home's

# VmRSS, from statm's resident page count: one line, read in one go.
page_kb=$(($(getconf PAGESIZE) / 1024))
rss_kb() {
  local size resident
  read -r size resident _ 2>/dev/null <"/proc/$1/statm" || return 1
  echo $((resident * page_kb))
}

(cd "$dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} exec "$@" >"$out/out" 2>"$out/err") &
pid=$!
if ! wait_loop "$pid" "$dir"; then
  echo "FAIL: the game did not reach its loop: $(cat "$out/err")"
  stop_game "$pid"
  exit 1
fi

# Samples at whole seconds after the loop began: a sampling rate, not a timing.
start_us=${EPOCHREALTIME/./}
samples=()
for ((s = 1; s <= seconds; s++)); do
  wait_us=$((start_us + s * 1000000 - ${EPOCHREALTIME/./}))
  [ "$wait_us" -gt 0 ] && nap "$((wait_us / 1000000)).$(printf '%06d' $((wait_us % 1000000)))"
  if ! running "$pid"; then
    wait "$pid"
    status=$?
    echo "FAIL: the game ended after $s s with status $status$([ "$status" -gt 128 ] && echo " (signal $((status - 128)))"): $(cat "$out/out" "$out/err")"
    exit 1
  fi
  kb=$(rss_kb "$pid") || { echo "FAIL: cannot read /proc/$pid/statm"; stop_game "$pid"; exit 1; }
  samples+=("$kb")
  [ "$quiet" -eq 1 ] || echo "t=${s}s VmRSS ${kb} kB"
done
stop_game "$pid"

first=${samples[0]}
last=${samples[$((${#samples[@]} - 1))]}
max=$first
min=$first
for kb in "${samples[@]}"; do
  [ "$kb" -gt "$max" ] && max=$kb
  [ "$kb" -lt "$min" ] && min=$kb
done
echo "VmRSS over ${seconds} s of $(basename "$1"): first second ${first} kB, end ${last} kB" \
  "(change $((last - first)) kB; range ${min}..${max} kB); status $status"
failed=0
[ "$status" -eq 0 ] || { echo "FAIL: status $status after SIGTERM: $(cat "$out/err")"; failed=1; }
[ "$hung" -eq 0 ] || { echo "FAIL: still running $stop_limit s after SIGTERM"; failed=1; }
if [ $((last - first)) -gt "$slack" ]; then
  echo "FAIL: resident memory grew by $((last - first)) kB (more than $slack kB) after the first second"
  failed=1
fi
grep -Eq "$sanitizer_report" "$out/err" && { echo "FAIL: sanitizer report"; cat "$out/err"; failed=1; }
[ -s "$out/out" ] && echo "the game said: $(tr '\n' ' ' <"$out/out")"
exit $failed
