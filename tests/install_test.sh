#!/usr/bin/env bash
# Installs the build into a temporary prefix and starts the game through its
# launcher from an unrelated directory, headless.
# Usage: install_test.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
elsewhere=$(mktemp -d)
trap 'rm -rf "$prefix" "$elsewhere"' EXIT
# The game keeps its player data under XDG_DATA_HOME: never a real home's.
export XDG_DATA_HOME=$elsewhere/data
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
for f in bin/quorvane libexec/quorvane/quorvane share/quorvane/data/player.bmp share/quorvane/data/arial.ttf \
         share/quorvane/data/tavik-shootemup.mp3 share/applications/io.github.quorvane.Quorvane.desktop \
         share/metainfo/io.github.quorvane.Quorvane.metainfo.xml share/man/man6/quorvane.6.gz \
         share/icons/hicolor/64x64/apps/quorvane.png share/icons/hicolor/128x128/apps/quorvane.png \
         share/doc/quorvane/LICENSE share/doc/quorvane/copyright share/doc/quorvane/changelog.gz; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ "$(ls "$prefix/share/quorvane/data" | wc -l)" -ge 24 ] || fail "data incomplete: $(ls "$prefix/share/quorvane/data")"

desktop-file-validate "$prefix/share/applications/io.github.quorvane.Quorvane.desktop" || fail "desktop entry invalid"
# The metadata, and that it agrees with the desktop entry and icons installed
# beside it (the launchable it names is there, and so on).
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.quorvane.Quorvane.metainfo.xml" ||
  fail "metainfo invalid"
appstreamcli validate-tree --no-net "$prefix" || fail "installed tree's metadata invalid"
warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man6/quorvane.6.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
MANWIDTH=80 man -l "$prefix/share/man/man6/quorvane.6.gz" 2>/dev/null | grep -q 'EXIT STATUS' || fail "man page does not render"

# From an unrelated directory, through a symlink as a packager might add one.
ln -s "$prefix/bin/quorvane" "$elsewhere/q"
cd "$elsewhere"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ./q 2>"$elsewhere/err" &
pid=$!
end=$((SECONDS + 10))
ready=0
while [ $SECONDS -lt $end ] && kill -0 "$pid" 2>/dev/null; do
  # The music is the last thing loaded before the loop starts.
  if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$prefix/share/quorvane/data/tavik-shootemup.mp3\|data/tavik-shootemup.mp3"; then
    ready=1
    break
  fi
  sleep 0.05
done
[ $ready -eq 1 ] || { kill -KILL "$pid" 2>/dev/null; fail "game did not reach its loop: $(cat "$elsewhere/err")"; }
[ "$(readlink "/proc/$pid/cwd")" = "$prefix/share/quorvane" ] || fail "runs in $(readlink "/proc/$pid/cwd")"
kill -TERM "$pid"
wait "$pid"
status=$?
[ $status -eq 0 ] || fail "status $status after SIGTERM"
echo "installed game ran from $elsewhere and ended with 0"
