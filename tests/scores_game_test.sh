#!/usr/bin/env bash
# The real game, headless, with its high-score table where it cannot be read or
# written, or damaged: it starts, says so in one line, plays, and ends with
# status 0 on SIGTERM. Never an exit, a hang or a crash.
# Usage: scores_game_test.sh GAME BUILD_DIR
set -u
game=$(realpath "$1")
build=$2
failures=0
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts the game from the build directory with the given environment settings
# (NAME=VALUE, or -u NAME to remove one) and, after a --, the command to start
# it through; waits for its loop (the music open), lets it run, then ends it
# with SIGTERM. Sets $status; stderr in $work/err.
run_game() {
  local unset=() set=() through=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in -u) unset+=(-u "$2"); shift 2 ;; *) set+=("$1"); shift ;; esac
  done
  [ "${1:-}" = -- ] && shift && through=("$@")
  failed_before=$failures
  (cd "$build" && exec env "${unset[@]}" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "${set[@]}" \
    "${through[@]}" "$game" >"$work/out" 2>"$work/err") &
  local pid=$! end=$((SECONDS + 20))
  until ls -l "/proc/$pid/fd" 2>/dev/null | grep -q tavik-shootemup.mp3; do
    if ! kill -0 "$pid" 2>/dev/null || [ $SECONDS -ge $end ]; then
      fail "the game did not reach its loop: $(cat "$work/err")"
      break
    fi
    sleep 0.05
  done
  sleep 0.3
  kill -TERM "$pid" 2>/dev/null
  end=$((SECONDS + 10))
  while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then fail "the game still runs 10 s after SIGTERM"; kill -KILL "$pid"; fi
  wait "$pid"
  status=$?
}

# One line on standard error, saying scores are not saved, naming $1 when given.
expect_one_warning() {
  [ "$status" -eq 0 ] || fail "$what: status $status"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$what: not one line on stderr: $(cat "$work/err")"
  grep -q '^Warning: high scores are not being saved' "$work/err" || fail "$what: $(cat "$work/err")"
  [ -z "${1:-}" ] || grep -qF "$1" "$work/err" || fail "$what: the path $1 is not named: $(cat "$work/err")"
  passed
}

passed() {
  [ "$failures" -eq "$failed_before" ] && echo "ok   $what: $(cat "$work/err")"
}

what="XDG_DATA_HOME names a plain file"
echo "not a folder" >"$work/file"
run_game XDG_DATA_HOME="$work/file"
expect_one_warning "$work/file/quorvane/scores"

what="no HOME and no XDG_DATA_HOME"
run_game -u HOME -u XDG_DATA_HOME
expect_one_warning

what="the table's path is a folder"
mkdir -p "$work/dir/quorvane/scores"
run_game XDG_DATA_HOME="$work/dir"
expect_one_warning "$work/dir/quorvane/scores"

what="a table the player may not read"
if command -v setpriv >/dev/null && [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$work/locked/quorvane"
  printf 'quorvane-scores 1\n10\t1700000000\troot\n' >"$work/locked/quorvane/scores"
  chmod 600 "$work/locked/quorvane/scores"
  chmod 755 "$work/locked" "$work/locked/quorvane"
  run_game XDG_DATA_HOME="$work/locked" -- setpriv --reuid=nobody --regid=nogroup --clear-groups
  expect_one_warning "$work/locked/quorvane/scores"
else
  # Not root: the player's own unreadable file does as well.
  mkdir -p "$work/locked/quorvane"
  printf 'quorvane-scores 1\n10\t1700000000\tme\n' >"$work/locked/quorvane/scores"
  chmod 000 "$work/locked/quorvane/scores"
  run_game XDG_DATA_HOME="$work/locked"
  expect_one_warning "$work/locked/quorvane/scores"
fi

# A 10 MB file is no table: it is kept aside whole, unread past its first
# 64 KiB, and an empty table written in its place.
what="a 10 MB file"
mkdir -p "$work/big/quorvane"
head -c 10485760 /dev/urandom >"$work/big/quorvane/scores"
sum=$(sha256sum <"$work/big/quorvane/scores")
run_game XDG_DATA_HOME="$work/big"
[ "$status" -eq 0 ] || fail "$what: status $status"
aside=$(ls "$work/big/quorvane" | grep '^scores\.damaged-' | head -n 1)
[ -n "$aside" ] && [ "$(sha256sum <"$work/big/quorvane/$aside")" = "$sum" ] ||
  fail "$what: not kept aside whole: $(ls "$work/big/quorvane")"
[ "$(head -c 100 "$work/big/quorvane/scores" | tr -d '\0')" = "quorvane-scores 1" ] ||
  fail "$what: the repaired table is not empty"
grep -q "kept it aside as $aside" "$work/err" || fail "$what: the player is not told: $(cat "$work/err")"
passed

# Good lines among bad ones: the bad ones go, with the whole file kept aside.
what="a damaged table"
mkdir -p "$work/damaged/quorvane"
printf 'quorvane-scores 1\n900\t1700000000\tann\n-5\t1700000000\tneg\n99999999999\t1\thuge\n80\t1700000100\tbo lee\n\001\002junk\n' \
  >"$work/damaged/quorvane/scores"
cp "$work/damaged/quorvane/scores" "$work/damaged.orig"
run_game XDG_DATA_HOME="$work/damaged"
[ "$status" -eq 0 ] || fail "$what: status $status"
aside=$(ls "$work/damaged/quorvane" | grep '^scores\.damaged-' | head -n 1)
[ -n "$aside" ] && cmp -s "$work/damaged.orig" "$work/damaged/quorvane/$aside" ||
  fail "$what: not kept aside byte for byte: $(ls "$work/damaged/quorvane")"
expected=$(printf 'quorvane-scores 1\n900\t1700000000\tann\n80\t1700000100\tbo lee')
[ "$(cat "$work/damaged/quorvane/scores")" = "$expected" ] ||
  fail "$what: the repaired table holds: $(cat -v "$work/damaged/quorvane/scores")"
passed

if [ "$failures" -eq 0 ]; then echo "all high-score process checks passed"; else echo "$failures checks failed"; fi
exit $((failures > 0))
