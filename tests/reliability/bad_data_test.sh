#!/usr/bin/env bash
# Every file the game loads, in turn missing, empty, cut to its first half and
# replaced by noise, in a private copy of the data directory, headless.
#   An image: "Couldn't load image data/X.bmp: reason" on standard error, status 3.
#   The font: "TTF_OpenFont error: ..." naming data/arial.ttf on standard output, status 255.
#   The music: the game reaches its loop, plays on in silence, ends with 0 on SIGTERM.
# Never a crash, a hang, or (in the sanitizer build) a sanitizer report.
#
# Usage: bad_data_test.sh GAME DATA_DIR SPOIL [JOBS]
#   GAME the quorvane executable, DATA_DIR a complete data/ directory, SPOIL the
#   spoil tool; JOBS cases run at a time (default: the number of cores).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

# One case, run by the parallel driver below: prints one line, "ok ..." or
# "FAIL ...", with what the game said.
run_case() {
  local game=$1 data=$2 spoil=$3 file=$4 mode=$5
  local pid verdict="" said
  work=$(mktemp -d) || { echo "FAIL $file $mode: no temporary directory"; return 1; }
  trap 'rm -rf "$work"' EXIT
  export XDG_DATA_HOME=$work/data-home   # player data: never a real home's
  cp -rL "$data" "$work/data"
  case $mode in
    missing) rm "$work/data/$file" ;;
    *) "$spoil" "$mode" "$data/$file" "$work/data/$file" || { echo "FAIL $file $mode: spoil failed"; return 1; } ;;
  esac

  (cd "$work" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy exec "$game" >"$work/out" 2>"$work/err") &
  pid=$!
  case $file in
    *.mp3)
      wait_loop "$pid" "$work"
      case $? in
        1) verdict="ended before its loop" ;;
        2) verdict="did not reach its loop in $start_limit s" ;;
        *) wait_mixed "$pid" 40 || verdict="its sound stopped being mixed" ;;
      esac
      stop_game "$pid"
      [ "$hung" -eq 1 ] && verdict="${verdict:+$verdict; }still running $stop_limit s after SIGTERM"
      [ -z "$verdict" ] && [ "$status" -ne 0 ] && verdict="status $status after SIGTERM"
      ;;
    *)
      # It must stop by itself; a game that reaches its loop took the damaged file.
      local end=$((SECONDS + start_limit))
      while running "$pid" && [ $SECONDS -lt $end ]; do
        if in_frame_wait "$pid"; then verdict="accepted the damaged file and runs"; break; fi
        nap 0.02
      done
      if running "$pid"; then
        [ -z "$verdict" ] && verdict="still running after $start_limit s"
        kill -KILL "$pid" 2>/dev/null
      fi
      wait "$pid"
      status=$?
      if [ -z "$verdict" ]; then
        case $file in
          *.bmp)
            [ "$status" -eq 3 ] || verdict="status $status, not 3"
            grep -q "^Couldn't load image data/$file: ." "$work/err" ||
              verdict="${verdict:+$verdict; }no \"Couldn't load image data/$file: reason\" on stderr" ;;
          arial.ttf)
            [ "$status" -eq 255 ] || verdict="status $status, not 255"
            grep -q "^TTF_OpenFont error: .*data/arial\.ttf" "$work/out" ||
              verdict="${verdict:+$verdict; }no \"TTF_OpenFont error: ...data/arial.ttf...\" on stdout" ;;
        esac
      fi
      ;;
  esac
  if grep -Eq "$sanitizer_report" "$work/err" "$work/out"; then
    verdict="${verdict:+$verdict; }sanitizer report"
  fi
  said=$(cat "$work/out" "$work/err" | grep -v '^$' | head -c 2000 | tr '\n' '|')
  if [ -z "$verdict" ]; then
    echo "ok   $file $mode: status $status: $said"
    return 0
  fi
  echo "FAIL $file $mode: $verdict: $said"
  # The full report of a sanitizer, indented under its case.
  grep -Eq "$sanitizer_report" "$work/err" && sed 's/^/    /' "$work/err" | head -60
  return 1
}

if [ "${1:-}" = --case ]; then
  shift
  run_case "$@"
  exit
fi

game=$1
data=$(cd "$2" && pwd)
spoil=$3
jobs=${4:-$(( $(nproc) * 2 ))}

images=(left right konsol bg player newgame1 hiscore1 exit1 newgame2 hiscore2 exit2
        dusman01 dusman02 dusman03 dusman04 dusman05 missile enemy_missile
        patlama01 patlama03 patlama05 patlama07)
files=("${images[@]/%/.bmp}" arial.ttf tavik-shootemup.mp3)
modes=(missing empty half random)

for f in "${files[@]}"; do
  [ -s "$data/$f" ] || { echo "FAIL: $data/$f is missing: the data set is not complete"; exit 1; }
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
for f in "${files[@]}"; do
  for m in "${modes[@]}"; do printf '%s %s\n' "$f" "$m"; done
done | xargs -P "$jobs" -n 2 "$0" --case "$game" "$data" "$spoil" | tee "$log"

cases=$(grep -c '^ok \|^FAIL ' "$log")
failed=$(grep -c '^FAIL ' "$log")
echo "$cases cases, $failed failed"
[ "$cases" -eq $((${#files[@]} * ${#modes[@]})) ] || { echo "FAIL: expected $((${#files[@]} * ${#modes[@]})) cases"; exit 1; }
[ "$failed" -eq 0 ]
