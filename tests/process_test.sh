#!/usr/bin/env bash
# The real executable, headless: how it starts, fails and stops.
# Usage: process_test.sh GAME BUILD_DIR
set -u
game=$1
build=$2
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The game keeps its player data under XDG_DATA_HOME: never a real home's.
export XDG_DATA_HOME=$work/data-home

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/reliability/lib.sh"

# Waits until the game holds a file open: the font from start-up on, the
# music once everything is loaded, just before the loop.
wait_open() {
  local pid=$1 file=$2 end=$((SECONDS + 20))
  while [ $SECONDS -lt $end ]; do
    kill -0 "$pid" 2>/dev/null || return 1
    ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$file" && return 0
    sleep 0.05
  done
  return 1
}

# Starts the game in DIR with extra environment, then ends it with SIGTERM.
run_until_term() {
  local dir=$1; shift
  (cd "$dir" && exec env SDL_VIDEODRIVER=dummy "$@" "$game" --help -x extra >"$work/out" 2>"$work/err") &
  local pid=$!
  wait_open "$pid" tavik-shootemup.mp3 || fail "game did not reach its loop: $(cat "$work/err")"
  sleep 0.3  # let a few frames run
  kill -TERM "$pid" 2>/dev/null
  local end=$((SECONDS + 5))
  while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then fail "game still running 5 s after SIGTERM"; kill -KILL "$pid"; fi
  wait "$pid"
  status=$?
}

# Runs the game in DIR to its end and keeps status, stdout and stderr.
run_to_end() {
  local dir=$1; shift
  (cd "$dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 10 "$game" >"$work/out" 2>"$work/err")
  status=$?
}

echo "headless run, arguments ignored, SIGTERM ends it with 0"
run_until_term "$build" SDL_AUDIODRIVER=dummy
[ "$status" -eq 0 ] || fail "status $status after SIGTERM"
[ -s "$work/err" ] && fail "unexpected messages: $(cat "$work/err")"

echo "an audio driver that does not exist: a warning, and the game runs"
run_until_term "$build" SDL_AUDIODRIVER=no-such-driver
[ "$status" -eq 0 ] || fail "status $status without audio"
grep -q '^Warning: .*audio\|^Warning: Audio could not be setup for 44100 Hz 16-bit stereo.' "$work/err" ||
  fail "no audio warning: $(cat "$work/err")"

echo "no font: its message on standard output, status 255"
cp -r "$build/data" "$work/data"
rm "$work/data/arial.ttf"
run_to_end "$work"
[ "$status" -eq 255 ] || fail "status $status without the font"
grep -q '^TTF_OpenFont error: .' "$work/out" || fail "stdout: $(cat "$work/out")"

echo "a missing image: its name on standard error, status 3"
cp "$build/data/arial.ttf" "$work/data/"
rm "$work/data/konsol.bmp"
run_to_end "$work"
[ "$status" -eq 3 ] || fail "status $status without an image"
grep -q '^Couldn.t load image data/konsol.bmp: .' "$work/err" || fail "stderr: $(cat "$work/err")"

echo "no music: the game plays on in silence"
cp "$build/data/konsol.bmp" "$work/data/"
rm "$work/data/tavik-shootemup.mp3"
(cd "$work" && exec env SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$game" 2>"$work/err") &
pid=$!
# Its loop is where it sleeps in its frame wait, whatever the machine's pace.
wait_loop "$pid" "$work" || fail "game did not reach its loop without its music: $(cat "$work/err")"
kill -TERM "$pid"; wait "$pid"; status=$?
[ "$status" -eq 0 ] || fail "status $status without music"

if [ "$failures" -eq 0 ]; then echo "all process checks passed"; else echo "$failures process checks failed"; fi
exit $((failures > 0))
