# Helpers shared by the reliability scripts: starting the game headless,
# knowing when it has reached its loop, ending it, reading its verdict.
# Sourced, not run. The polls read /proc with shell builtins only, so that
# watching a game costs no processes of its own.

# What a sanitizer prints when it finds something.
sanitizer_report='AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:'

# Hang guards, not timings: generous on purpose, so a slow or busy machine
# (or a sanitizer build) never trips them. The library's signal handler turns
# SIGTERM into a quit event the loop reads within a frame.
start_limit=120
stop_limit=60

machine=$(uname -m)

# sleep without starting a process: a read that times out on a pipe nobody
# writes to. The polls below run every few hundredths of a second.
exec {nap_fd}<> <(:)
nap() { read -r -t "$1" -u "$nap_fd" _ || true; }

# Files under /proc are read in one go (a single line, or mapfile): read
# line by line, each line is a fresh snapshot, and a number that changes length
# between two reads shifts the lines under the reader.

# True while PID runs (and is not a zombie).
running() {
  local line
  read -r line 2>/dev/null <"/proc/$1/stat" || return 1
  line=${line##*) }
  [ "${line%% *}" != Z ]
}

# True when PID has FILE open.
has_open() {
  local fd
  for fd in /proc/"$1"/fd/*; do
    [ "$fd" -ef "$2" ] && return 0
  done
  return 1
}

# True when PID's main thread sleeps in a nanosleep: the game's only sleep is
# the wait before each flip, so that is the loop.
in_frame_wait() {
  local wchan="" call=""
  read -r wchan 2>/dev/null <"/proc/$1/task/$1/wchan"
  case $wchan in *nanosleep*) return 0 ;; esac
  read -r call _ 2>/dev/null <"/proc/$1/task/$1/syscall"
  case "$machine:$call" in
    x86_64:230 | x86_64:35 | aarch64:115 | aarch64:101) return 0 ;;
  esac
  return 1
}

# Waits until the game PID, run in DIR, has opened DIR/data/arial.ttf (start-up
# is under way) and then sits in its frame wait (the loop runs). Returns 1 when
# the game ended first, 2 when it hung.
wait_loop() {
  local pid=$1 font=$2/data/arial.ttf end=$((SECONDS + start_limit))
  until has_open "$pid" "$font"; do
    running "$pid" || return 1
    [ $SECONDS -lt $end ] || return 2
    nap 0.02
  done
  until in_frame_wait "$pid"; do
    running "$pid" || return 1
    [ $SECONDS -lt $end ] || return 2
    nap 0.01
  done
}

# Waits for PID to end; kills it if it will not. Sets $status, and $hung to 1
# when it had to be killed.
wait_end() {
  local pid=$1 end=$((SECONDS + stop_limit))
  hung=0
  while running "$pid" && [ $SECONDS -lt $end ]; do nap 0.02; done
  if running "$pid"; then
    hung=1
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  status=$?
}

# Sends SIGTERM to PID and waits for it to end. Sets $status and $hung.
stop_game() {
  kill -TERM "$1" 2>/dev/null
  wait_end "$1"
}

# Sets $waits to the audio thread's count of waits for the device: one per
# buffer mixed.
audio_waits() {
  local task comm line lines
  waits=0
  for task in /proc/"$1"/task/*; do
    read -r comm 2>/dev/null <"$task/comm" || continue
    case $comm in
      SDLAudio*)
        mapfile -t lines 2>/dev/null <"$task/status" || continue
        for line in "${lines[@]}"; do
          case $line in voluntary_ctxt_switches:*) waits=${line##*[[:space:]]} ;; esac
        done ;;
    esac
  done
  return 0
}

# Waits until PID's audio thread has mixed N more buffers (1024 samples each,
# about 23 ms of sound), so the music has really been decoded for a while.
wait_mixed() {
  local pid=$1 n=$2 end=$((SECONDS + start_limit)) first
  audio_waits "$pid"
  first=$waits
  while audio_waits "$pid"; [ "$waits" -lt $((first + n)) ]; do
    running "$pid" || return 1
    [ $SECONDS -lt $end ] || return 2
    nap 0.05
  done
}
