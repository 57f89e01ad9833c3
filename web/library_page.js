// What the game tells the page and asks of it: the player's name from the
// page's name box, the frames shown (the first one, and their count), and
// the game's end with its status, which emscripten tells the page only when
// nothing is pending.

mergeInto(LibraryManager.library, {
  // The player's name is the page's name box.
  // $QuorvaneName unused here: the game that asks for a name gives the page
  // its cleaning (Module.cleanName).
  page_player_name__deps: ['$QuorvaneName'],
  page_player_name: function (name, size) {
    var typed = Module['playerName'] ? String(Module['playerName']()) : '';
    stringToUTF8(typed, name, size);
  },
  // The page shows the name in its box as the game's own rules clean it.
  $QuorvaneName: {
    clean: function (raw) {
      var text = String(raw),
        size = lengthBytesUTF8(text) + 1;
      var from = _malloc(size),
        to = _malloc(80);
      stringToUTF8(text, from, size);
      _clean_player_name(from, to, 80);
      var cleaned = UTF8ToString(to);
      _free(from);
      _free(to);
      return cleaned;
    },
  },
  $QuorvaneName__postset: 'Module["cleanName"] = QuorvaneName.clean;',

  // The game's exit(), with its status, told to the page first: emscripten
  // tells the page of an exit only when nothing is pending, and takes the
  // return of a main that sleeps for one.
  exit__deps: ['$QuorvaneScreen'],
  exit: function (status) {
    QuorvaneScreen.flush(); // the last frame stays in view
    if (Module['onGameEnd']) Module['onGameEnd'](status);
    exit(status);
  },

  // The canvas is the screen, and what is drawn on it is shown at the next
  // refresh of the display, so a flip has little to do; the page counts
  // them, for the frame rate.
  $QuorvaneFrames: {
    count: 0,
    first: null, // when the first frame was shown, in ms from the navigation
    afterFirst: [], // what waits for the game to show (the music's fetching)
  },
  $QuorvaneFrames__postset:
    'Module["frameCount"] = function() { return QuorvaneFrames.count; };' +
    'Module["firstFrame"] = function() { return QuorvaneFrames.first; };',
  SDL_Flip__deps: ['$QuorvaneFrames'],
  SDL_Flip: function (surf) {
    if (QuorvaneFrames.count++ === 0) {
      QuorvaneFrames.first = performance.now();
      if (Module['onFirstFrame']) setTimeout(Module['onFirstFrame'], 0);
      QuorvaneFrames.afterFirst.forEach(function (f) {
        setTimeout(f, 0);
      });
    }
    return 0;
  },
});
