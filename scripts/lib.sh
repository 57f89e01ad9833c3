# Shared set-up for scripts/play, scripts/test and friends: install what is
# missing, then configure and build. Sourced, not run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUORVANE_BUILD:-$ROOT/build}

# Debian 12 packages needed to build the game, generate its data and run its tests.
PACKAGES=(
  build-essential cmake pkg-config
  libsdl1.2-compat-dev libsdl-mixer1.2-dev libsdl-ttf2.0-dev
  googletest libgtest-dev
  lame fonts-liberation zlib1g-dev
  xvfb xdotool imagemagick x11-utils python3 nlohmann-json3-dev
  desktop-file-utils man-db mount appstream
  openbox weston xwayland pulseaudio pulseaudio-utils
  clang-format
)

# What the browser build adds: emscripten, whose Node.js-run parts find their
# modules there only when Node.js is Debian's own; the three engines for its
# tests: Chromium, Firefox, and WebKitGTK's MiniBrowser with its WebDriver,
# which plays the music through GStreamer (its mp3 decoder, its PulseAudio
# output).
WEB_PACKAGES=(emscripten chromium firefox-esr webkit2gtk-driver
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio)
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=() p
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$BUILD" -j "$(nproc)"
}

# The browser build, in its own tree, from the native build's data and icons.
web_build() {
  local tree=$1
  emcmake cmake -S "$ROOT" -B "$tree" -DCMAKE_BUILD_TYPE=Release \
    -DQUORVANE_DATA_DIR="$BUILD/data" -DQUORVANE_ICON_DIR="$BUILD/icons" >/dev/null
  cmake --build "$tree" -j "$(nproc)"
}

# Biome for scripts/check-js, as the root's lock file pins it.
js_style_tools() {
  (cd "$ROOT" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

# playwright-core and puppeteer-core for the browser tests, as the lock file pins them.
web_test_tools() {
  (cd "$ROOT/tests/web" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}
