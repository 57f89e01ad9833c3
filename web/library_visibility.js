// The page out of sight: behind another tab or app, on a locked phone, or
// left for another page that the browser keeps to come back to. The game
// holds still there, as a process stopped and later continued: its loop
// runs no pass, its music holds where it is, and its held keys are let go.
// Seen again, it goes on from the same state. The page has no unload
// listener, which would keep browsers from keeping it.

mergeInto(LibraryManager.library, {
  // Away while hidden, and from pagehide to pageshow (a page left for
  // another may be told either first, or only one).
  $QuorvaneAway: {
    away: false,
    left: false,
    since: 0, // when the page went away
    gone: 0, // how long it has been away before, all told, in ms
    waking: null, // the loop's wake-up, held while away
    change: function (event) {
      if (event.type === 'pagehide') QuorvaneAway.left = true;
      if (event.type === 'pageshow') QuorvaneAway.left = false;
      var away = QuorvaneAway.left || document.visibilityState === 'hidden';
      if (away === QuorvaneAway.away) return;
      QuorvaneAway.away = away;
      if (away) {
        QuorvaneAway.since = performance.now();
        QuorvaneMusic.hold();
        QuorvaneKeys.release();
        return;
      }
      QuorvaneAway.gone += performance.now() - QuorvaneAway.since;
      QuorvaneMusic.resume();
      var wake = QuorvaneAway.waking;
      QuorvaneAway.waking = null;
      // Once this event is done with: the game runs until its next wait.
      if (wake) safeSetTimeout(wake, 0);
    },
    // How long the page has been in sight, in ms: a clock that stands still
    // while it is away.
    shown: function () {
      var now = performance.now();
      return now - QuorvaneAway.gone - (QuorvaneAway.away ? now - QuorvaneAway.since : 0);
    },
    install: function () {
      document.addEventListener('visibilitychange', QuorvaneAway.change);
      window.addEventListener('pagehide', QuorvaneAway.change);
      window.addEventListener('pageshow', QuorvaneAway.change);
      // A page opened in a tab not shown starts away.
      QuorvaneAway.change({ type: 'start' });
    },
  },
  $QuorvaneAway__deps: ['$QuorvaneMusic', '$QuorvaneKeys', '$safeSetTimeout'],
  $QuorvaneAway__postset: 'QuorvaneAway.install();',

  // The game waits in every frame, between drawing and showing it; away, the
  // wait lasts until the page is seen again, so that no pass of the loop
  // runs meanwhile: no frame, no tick, no key.
  SDL_Delay__deps: ['$QuorvaneAway', '$Asyncify', '$safeSetTimeout'],
  SDL_Delay: function (ms) {
    Asyncify.handleSleep(function (wakeUp) {
      safeSetTimeout(function () {
        if (QuorvaneAway.away) QuorvaneAway.waking = wakeUp;
        else wakeUp();
      }, ms);
    });
  },

  // The game's clock counts only the time the page was in sight: it stands
  // still while the page is away, as the music does, so that the game's
  // rules (the gap between shots, the tick at each pass the clock has moved)
  // find no gap when it goes on.
  SDL_GetTicks__deps: ['$QuorvaneAway', '$SDL'],
  SDL_GetTicks: function () {
    return (QuorvaneAway.shown() - SDL.startTime) | 0;
  },

  // The library's SDL_Init, without its unload listener: a page with one is
  // never kept for back and forward. The listener only ran a main loop that
  // this game has not (its own loop sleeps in SDL_Delay), so nothing it did
  // is lost. The keys are library_keys.js's own.
  SDL_Init__deps: ['$SDL', '$QuorvaneAway', '$zeroMemory'],
  SDL_Init: function (initFlags) {
    SDL.startTime = QuorvaneAway.shown(); // what SDL_GetTicks counts from
    SDL.initFlags = initFlags;
    SDL.keyboardState = _malloc(0x10000);
    zeroMemory(SDL.keyboardState, 0x10000);
    var types = {
      keydown: 0x300, // SDL_KEYDOWN
      keyup: 0x301, // SDL_KEYUP
      keypress: 0x303, // SDL_TEXTINPUT
      mousedown: 0x401, // SDL_MOUSEBUTTONDOWN
      mouseup: 0x402, // SDL_MOUSEBUTTONUP
      mousemove: 0x400, // SDL_MOUSEMOTION
      wheel: 0x403, // SDL_MOUSEWHEEL
      touchstart: 0x700, // SDL_FINGERDOWN
      touchend: 0x701, // SDL_FINGERUP
      touchmove: 0x702, // SDL_FINGERMOTION
      resize: 0x7001, // SDL_VIDEORESIZE
      visibilitychange: 0x200, // SDL_WINDOWEVENT
      focus: 0x200,
      blur: 0x200,
      joystick_axis_motion: 0x600, // SDL_JOYAXISMOTION
      joystick_button_down: 0x603, // SDL_JOYBUTTONDOWN
      joystick_button_up: 0x604, // SDL_JOYBUTTONUP
    };
    for (var type in types) SDL.DOMEventToSDLEvent[type] = types[type];
    return 0;
  },
});
