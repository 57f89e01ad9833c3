// Keys as the desktop game gets them. emscripten's SDL 1.2's key repeat does
// nothing, and it passes on the browser's repeats at the system's own pace:
// here the browser's repeats are dropped and SDL 1.2's own repeat is made,
// the key pressed last, once the delay has passed, then once per interval,
// checked each time the game polls for events. Keys typed into the page's
// own fields are the page's, not the game's, and the keys that would scroll
// the page are kept from doing so.

mergeInto(LibraryManager.library, {
  $QuorvaneKeys: {
    delay: 0,
    interval: 0,
    held: null, // the key pressed last, while held: {keyCode, location, since, first}
    onPress: [], // the page's calls at a key press or click, e.g. to start the sound
    // quorvaneKeyboard: web/keyboard.js, shared with the page's scripts.
    install: function () {
      var receive = function (event) {
        if (quorvaneKeyboard.inField(event)) return;
        if (quorvaneKeyboard.scrolls(event.keyCode)) event.preventDefault();
        if (event.type === 'keydown') {
          QuorvaneKeys.onPress.forEach(function (f) {
            f(event);
          });
          if (event.repeat) return;
          QuorvaneKeys.held = { keyCode: event.keyCode, location: event.location, since: Date.now(), first: true };
        } else if (event.type === 'keyup') {
          if (QuorvaneKeys.held && QuorvaneKeys.held.keyCode === event.keyCode) QuorvaneKeys.held = null;
        }
        SDL.receiveEvent(event);
      };
      document.addEventListener('keydown', receive);
      document.addEventListener('keyup', receive);
      ['mousedown', 'pointerdown', 'touchend'].forEach(function (type) {
        document.addEventListener(type, function (event) {
          QuorvaneKeys.onPress.forEach(function (f) {
            f(event);
          });
        });
      });
      window.addEventListener('blur', QuorvaneKeys.release);
    },
    // Every key let go, the page's own controls' too (Module.onKeysReleased,
    // keys.js), as the desktop does when its window loses focus: a key let go
    // while the page has no focus, or is out of sight, sends no release.
    release: function () {
      QuorvaneKeys.held = null;
      if (Module['onKeysReleased']) Module['onKeysReleased']();
      for (var code in SDL.keyboardMap) {
        SDL.events.push({ type: 'keyup', keyCode: SDL.keyboardMap[code] });
      }
    },
    check: function () {
      var held = QuorvaneKeys.held;
      if (!held || QuorvaneKeys.delay === 0) return;
      var now = Date.now();
      var waited = now - held.since;
      if (held.first) {
        if (waited > QuorvaneKeys.delay) {
          held.since = now;
          held.first = false;
        }
      } else if (waited > QuorvaneKeys.interval) {
        held.since = now;
        SDL.events.push({ type: 'keydown', keyCode: held.keyCode, location: held.location });
      }
    },
  },
  $QuorvaneKeys__deps: ['$SDL'],
  $QuorvaneKeys__postset: 'Module["doNotCaptureKeyboard"] = true; QuorvaneKeys.install();',
  SDL_EnableKeyRepeat__deps: ['$QuorvaneKeys'],
  SDL_EnableKeyRepeat: function (delay, interval) {
    QuorvaneKeys.delay = Math.max(delay, 0);
    QuorvaneKeys.interval = Math.max(interval, 0);
    return 0;
  },
  SDL_PollEvent__deps: ['$QuorvaneKeys', '$SDL'],
  SDL_PollEvent: function (ptr) {
    QuorvaneKeys.check();
    return SDL.pollEvent(ptr);
  },
});
