#!/usr/bin/env bash
# valgrind's memcheck over two headless sessions of a plain (not sanitizer) build:
#   1. the real game: start-up, its menu until a second of music has been mixed,
#      then SIGTERM;
#   2. session_driver: the real game played by scripted key presses (a game
#      started, shots fired, the ship flown) for MS milliseconds, then Escape.
# Fails on any memcheck error or definite leak not in valgrind.supp (library
# noise only, each entry with its reason), or a status other than 0.
# Slow (a minute or two): run it by hand, not from scripts/test.
#
# Usage: valgrind_session.sh GAME SESSION_DRIVER DATA_DIR [MS]
#   Set VALGRIND_SUPP=none to see everything, suppressions off.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
game=$1
driver=$2
data=$(cd "$3" && pwd)
ms=${4:-6000}
dir=$(dirname "$data")
logs=${VALGRIND_LOGS:-$(mktemp -d)}
mkdir -p "$logs"
data_home=$(mktemp -d)
trap 'rm -rf "$data_home"' EXIT
export XDG_DATA_HOME=$data_home   # player data: never a real home's
# valgrind makes everything tens of times slower.
start_limit=600
stop_limit=600

supp=(--suppressions="$here/valgrind.supp")
[ "${VALGRIND_SUPP:-}" = none ] && supp=()
memcheck=(valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite
  --errors-for-leak-kinds=definite --error-exitcode=99 --num-callers=40
  "${supp[@]}")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# What memcheck concluded, from its log.
verdict() {
  grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|suppressed:' "$1" |
    sed 's/^==[0-9]*== */    /'
}

echo "the real game, on its menu, then SIGTERM"
(cd "$dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy exec "${memcheck[@]}" --log-file="$logs/game.log" \
  "$game" >"$logs/game.out" 2>"$logs/game.err") &
pid=$!
wait_loop "$pid" "$dir" || fail "the game did not reach its loop under valgrind"
wait_mixed "$pid" 40 || fail "no sound mixed under valgrind"
stop_game "$pid"
[ "$status" -eq 0 ] || fail "game: status $status (99: memcheck errors); see $logs/game.log"
verdict "$logs/game.log"

echo "session_driver: $ms ms of scripted play, then Escape"
(cd "$dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy exec "${memcheck[@]}" --log-file="$logs/session.log" \
  "$driver" "$ms" >"$logs/session.out" 2>"$logs/session.err") &
pid=$!
wait_end "$pid"
[ "$hung" -eq 0 ] || fail "session: still running after $stop_limit s"
[ "$status" -eq 0 ] || fail "session: status $status (99: memcheck errors); see $logs/session.log"
cat "$logs/session.out"
verdict "$logs/session.log"

echo "logs in $logs"
if [ "$failures" -eq 0 ]; then echo "valgrind: no errors"; else echo "valgrind: $failures failures"; fi
exit $((failures > 0))
