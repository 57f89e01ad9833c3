#!/usr/bin/env bash
# The game on machines without a display or a sound card, headless. Complements
# process_test.sh (no audio driver, plain build) and the e2e no_display case
# (plain build): here every case also runs against the sanitizer build, and
# covers the unknown video driver, a display that does not answer, and a whole
# game played without sound.
#
# Usage: devices_test.sh GAME SESSION_DRIVER DATA_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
game=$1
driver=$2
data=$(cd "$3" && pwd)
run_dir=$(dirname "$data")
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data-home   # player data: never a real home's

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# No trace of a sanitizer in what the last run wrote; shows what it said.
check_clean() {
  echo "  -> status $status: $(grep -v '^$' "$work/out" "$work/err" -h | head -c 600 | tr '\n' '|')"
  if grep -Eq "$sanitizer_report" "$work/out" "$work/err"; then
    fail "$1: sanitizer report:"
    sed 's/^/    /' "$work/err" | head -60
  fi
}

# Runs the game with ENV... (after clearing every display and driver setting)
# until it ends by itself. Sets $status; a game that reaches its loop is stopped
# and reported.
run_to_end() {
  local what=$1; shift
  (cd "$run_dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u SDL_AUDIODRIVER \
    -u XAUTHORITY "$@" "$game" >"$work/out" 2>"$work/err") &
  local pid=$! end=$((SECONDS + start_limit))
  while running "$pid" && [ $SECONDS -lt $end ]; do
    if in_frame_wait "$pid"; then
      fail "$what: the game runs, unseen"
      stop_game "$pid"
      return
    fi
    nap 0.02
  done
  wait_end "$pid"
  [ "$hung" -eq 1 ] && fail "$what: still running after $start_limit s"
}

# An X display number nobody serves here.
free_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  echo ":$n"
}

echo "no display at all: a message and status 1 or 2"
run_to_end "no display" SDL_AUDIODRIVER=dummy
case $status in 1 | 2) ;; *) fail "no display: status $status, not 1 or 2" ;; esac
grep -q "^Couldn't \(initialize SDL\|set video mode\): ." "$work/err" || fail "no display: stderr: $(cat "$work/err")"
check_clean "no display"

display=$(free_display)
echo "a display ($display) that does not answer: \"Couldn't set video mode\", status 2"
run_to_end "display $display" DISPLAY="$display" SDL_AUDIODRIVER=dummy
[ "$status" -eq 2 ] || fail "display $display: status $status, not 2"
grep -q "^Couldn't set video mode: ." "$work/err" || fail "display $display: stderr: $(cat "$work/err")"
check_clean "display $display"

# The 1.2 layer starts SDL2's video only when the mode is set: status 2.
echo "a video driver that does not exist: a message naming it, status 1 or 2"
run_to_end "unknown video driver" SDL_VIDEODRIVER=nonexistent SDL_AUDIODRIVER=dummy
case $status in 1 | 2) ;; *) fail "unknown video driver: status $status, not 1 or 2" ;; esac
grep -q "^Couldn't \(initialize SDL\|set video mode\): .*nonexistent" "$work/err" ||
  fail "unknown video driver: stderr: $(cat "$work/err")"
check_clean "unknown video driver"

echo "no display and no sound card: still the display's message, status 1 or 2"
run_to_end "no display, no sound" SDL_AUDIODRIVER=nonexistent
case $status in 1 | 2) ;; *) fail "no display, no sound: status $status, not 1 or 2" ;; esac
grep -q "^Couldn't \(initialize SDL\|set video mode\): ." "$work/err" || fail "no display, no sound: stderr: $(cat "$work/err")"
check_clean "no display, no sound"

audio_warning='^Warning: \(unable to initialize audio\|Audio could not be setup for 44100 Hz 16-bit stereo\.\)'

echo "no sound card: a warning, then the real game reaches its loop and ends with 0 on SIGTERM"
(cd "$run_dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=nonexistent exec "$game" >"$work/out" 2>"$work/err") &
pid=$!
wait_loop "$pid" "$run_dir" || fail "no sound: the game did not reach its loop: $(cat "$work/err")"
stop_game "$pid"
[ "$status" -eq 0 ] || fail "no sound: status $status after SIGTERM"
grep -q "$audio_warning" "$work/err" || fail "no sound: no warning: $(cat "$work/err")"
check_clean "no sound"

echo "no sound card: a whole session played, games started and shots fired"
(cd "$run_dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=nonexistent exec "$driver" 3000 >"$work/out" 2>"$work/err") &
pid=$!
wait_end "$pid"
[ "$hung" -eq 1 ] && fail "no sound session: still running $stop_limit s after its end"
[ "$status" -eq 0 ] || fail "no sound session: status $status: $(cat "$work/out" "$work/err")"
grep -q "$audio_warning" "$work/err" || fail "no sound session: no warning: $(cat "$work/err")"
check_clean "no sound session"

echo "no sound card and no music file: silent, and still a working game"
mkdir -p "$work/run" && cp -rL "$data" "$work/run/data" && rm "$work/run/data/tavik-shootemup.mp3"
(cd "$work/run" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=nonexistent exec "$driver" 2000 >"$work/out" 2>"$work/err") &
pid=$!
wait_end "$pid"
[ "$hung" -eq 1 ] && fail "no sound, no music: still running $stop_limit s after its end"
[ "$status" -eq 0 ] || fail "no sound, no music: status $status: $(cat "$work/out" "$work/err")"
check_clean "no sound, no music"

if [ "$failures" -eq 0 ]; then echo "all device checks passed"; else echo "$failures device checks failed"; fi
exit $((failures > 0))
